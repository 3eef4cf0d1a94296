#!/usr/bin/env python3
"""Starts the real program on hostile profiles under a real X server.

Each profile must let the window come up promptly with the default settings (or the
ones it can read), say on standard error what became of the file, and leave the file as
it was: set aside byte for byte as velmor.conf.bad, or untouched.

Usage: x11_hostile_profile.py PATH_TO_VELMOR [SCREENSHOT_DIR]
       (run with DISPLAY set, e.g. under xvfb-run with Xvfb -noreset, so that the server
       does not restart between two runs; as root for the "nobody" case)
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

# A hang shows as no window at all; this bound only keeps a hung run from waiting for ever.
WINDOW_BOUND_SECONDS = 10
LEVEL = rb"\0\0\0\t\0\0\0\x1"
DEEP_VARIANT = b"[Settings]\nCOMPORT=@Variant(" + LEVEL * 30000 + rb"\0\0\0\x2\0\0\0\x5" + b")\n"
GOOD = b"[Settings]\nPROTOCOL=1\nCAMTYPE=1\n"


def digest(path):
    if not os.path.lexists(path):
        return None
    if not os.path.isfile(path):
        return "not a file"
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def make_profile(case):
    """Returns the profile folder (XDG_CONFIG_HOME) with the case's file in place."""
    home = tempfile.mkdtemp()
    folder = os.path.join(home, "PC-ZORVIK")
    os.makedirs(folder)
    conf = os.path.join(folder, "velmor.conf")
    kind = case["kind"]
    if kind == "fifo":
        os.mkfifo(conf)
    else:
        with open(conf, "wb") as f:
            if kind == "huge":
                f.write(b"[Settings]\nCOMPORT=2\n")
                f.write(b";" * (50 << 20))
            else:
                f.write(case["content"])
    if kind == "lock directory":
        os.mkdir(conf + ".lock")
    if kind == "stale lock":
        with open(conf + ".lock", "w") as f:
            f.write("999999\nvelmor\nelsewhere\n")
        old = time.time() - 3600
        os.utime(conf + ".lock", (old, old))
    if case.get("nobody"):
        # The program's own user owns nothing here: the folder is not writable to it.
        os.chmod(conf, 0o666 if kind == "stale lock" else 0o000)
        for path in (home, folder):
            os.chmod(path, 0o755)
    return home, conf


def wait_for_window(env):
    started = time.monotonic()
    while time.monotonic() - started < WINDOW_BOUND_SECONDS:
        found = subprocess.run(["xdotool", "search", "--name", "OSKA-ZORVIK"],
                               capture_output=True, text=True, env=env)
        if found.stdout.strip():
            return found.stdout.split()[0], time.monotonic() - started
        time.sleep(0.02)
    return None, None


def wait_for_text(stream_path, text):
    started = time.monotonic()
    while time.monotonic() - started < WINDOW_BOUND_SECONDS:
        with open(stream_path, "rb") as f:
            if text.encode() in f.read():
                return time.monotonic() - started
        time.sleep(0.02)
    return None


def run_case(program, case, shots):
    home, conf = make_profile(case)
    before = digest(conf)
    env = dict(os.environ, XDG_CONFIG_HOME=home)
    command = [program]
    if case.get("nobody"):
        # Root may remove the stale lock; an ordinary user in a folder it cannot write
        # may not. Without a display of its own, the message shows that the start went on.
        command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", program]
        env["QT_QPA_PLATFORM"] = "offscreen"
    errors = os.path.join(tempfile.mkdtemp(), "stderr")
    problems = []
    with open(errors, "wb") as err:
        app = subprocess.Popen(command, env=env, stderr=err)
    try:
        if env.get("QT_QPA_PLATFORM") == "offscreen":
            seconds = wait_for_text(errors, case["said"])
            if seconds is None:
                problems.append("nothing said within %d s" % WINDOW_BOUND_SECONDS)
        else:
            window, seconds = wait_for_window(env)
            if window is None:
                problems.append("no window within %d s" % WINDOW_BOUND_SECONDS)
            elif shots:
                time.sleep(0.3)
                shot = os.path.join(shots, case["name"].replace(" ", "-") + ".png")
                subprocess.run(["import", "-window", window, shot], env=env)
        if app.poll() is not None:
            problems.append("the program ended (status %d)" % app.returncode)
    finally:
        app.terminate()
        try:
            app.wait(5)
        except subprocess.TimeoutExpired:
            app.kill()
            app.wait()
    with open(errors, "rb") as f:
        said = f.read().decode(errors="replace")
    if case["said"] and case["said"] not in said:
        problems.append("standard error lacks %r: %r" % (case["said"], said[-300:]))
    if case["fate"] == "set aside":
        if digest(conf + ".bad") != before:
            problems.append("velmor.conf.bad is not the file as it was")
    elif case["fate"] == "untouched":
        if digest(conf) != before or os.path.lexists(conf + ".bad"):
            problems.append("the file was changed or moved")
    elif case["fate"] == "kept":
        with open(conf, "rb") as f:
            if case["content"].splitlines()[1] not in f.read():
                problems.append("the stored value was lost")
    if not problems:
        print("%s: up in %.2f s" % (case["name"], seconds))
    for path in (home,):
        subprocess.run(["chmod", "-R", "u+w", path])
        shutil.rmtree(path, ignore_errors=True)
    return problems


CASES = [
    {"name": "deep Variant", "kind": "file", "content": DEEP_VARIANT,
     "said": "set it aside", "fate": "set aside"},
    {"name": "50 MB", "kind": "huge", "said": "set it aside", "fate": "set aside"},
    {"name": "fifo", "kind": "fifo", "said": "not a regular file", "fate": "untouched"},
    {"name": "lock directory", "kind": "lock directory", "content": GOOD,
     "said": "was not written", "fate": "untouched"},
    {"name": "port -2147483648", "kind": "file", "content": b"[Settings]\nCOMPORT=-2147483648\n",
     "said": "", "fate": "kept"},
]
if os.geteuid() == 0 and shutil.which("setpriv"):
    CASES += [
        {"name": "stale lock in a folder it cannot write", "kind": "stale lock", "nobody": True,
         "content": GOOD, "said": "was not written", "fate": "untouched"},
        {"name": "unreadable", "kind": "file", "nobody": True, "content": GOOD,
         "said": "cannot be read; left it alone", "fate": "untouched"},
    ]


def main():
    program = os.path.abspath(sys.argv[1])
    shots = sys.argv[2] if len(sys.argv) > 2 else None
    failed = 0
    for case in CASES:
        problems = run_case(program, case, shots)
        for problem in problems:
            print("FAIL %s: %s" % (case["name"], problem))
        failed += bool(problems)
    print("%d passed, %d failed" % (len(CASES) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

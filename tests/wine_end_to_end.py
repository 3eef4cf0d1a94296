#!/usr/bin/env python3
"""velmor.exe under Wine on a real X server, against the virtual camera on a real line.

Wine's COM1 is the analyser's pseudo-terminal (HKLM\\Software\\Wine\\Ports). The operator's
actions and the frames they must give are those of x11_vcam_end_to_end, both protocols and
both camera types, settings in the registry. After the last case the About entry of the
system menu opens the About box, and COMMUNICATION SET stores the settings, which
`wine reg query` must then show. Last, hostile registry values, set with `wine reg`: the
window must come up, say on standard error which value it refused, and drive the line
with the defaults, never with a value it was misled into.

Usage: wine_end_to_end.py VELMOR_EXE VELMOR_VCAM DIALOGS_JSON
       (under xvfb-run, with WINEPREFIX naming a prefix of the test's own)
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11_vcam_end_to_end import (CASES, find_keypad, key_centres, report,  # noqa: E402
                                 run_case, xdotool)

KEY = r"HKCU\Software\PC-ZORVIK\velmor\Settings"
# Wine starts its services and a program in it slowly on a loaded machine.
WINDOW_BOUND_SECONDS = 60
LEVEL = b"\0\0\0\t\0\0\0\x01"
# QSettings would decode this text into a list nested 30,000 deep, and overflow the stack.
DEEP_VARIANT = "@Variant(" + (LEVEL * 30000 + b"\0\0\0\x02\0\0\0\x01").decode("latin-1") + ")"

# Hostile values: (name, value name, registry type, data, protocol of the frames on the
# line, what standard error must say, or None: nothing refused).
HOSTILE = [
    ("deep @Variant", "PROTOCOL", "REG_SZ", DEEP_VARIANT, "OSKA-DEFAULT",
     r"value Settings\PROTOCOL is 480038 bytes of text"),
    ("@Variant of a number", "PROTOCOL", "REG_SZ", "@Variant(\0\0\0\x02\0\0\0\x01)",
     "OSKA-DEFAULT", r"value Settings\PROTOCOL holds an encoded value"),
    ("huge text", "PROTOCOL", "REG_SZ", "1" * 10000, "OSKA-DEFAULT",
     r"value Settings\PROTOCOL is 20002 bytes of text"),
    ("binary", "PROTOCOL", "REG_BINARY", "01000000", "OSKA-DEFAULT",
     r"value Settings\PROTOCOL is a REG_BINARY value"),
    ("list", "PROTOCOL", "REG_MULTI_SZ", "1\\01", "OSKA-DEFAULT",
     r"value Settings\PROTOCOL is a REG_MULTI_SZ value"),
    ("text number", "PROTOCOL", "REG_SZ", " 1", "PELCO D", None),
    ("wide number", "PROTOCOL", "REG_QWORD", "1", "PELCO D", None),
]


def wine(*args, **kwargs):
    return subprocess.run(["wine", *args], capture_output=True, text=True, **kwargs)


def reg_import(values):
    """Sets values {name: (type, data)} under KEY, the text ones through a .reg file, which
    carries any character, NUL included."""
    lines = ["Windows Registry Editor Version 5.00", "",
             "[%s]" % KEY.replace("HKCU", "HKEY_CURRENT_USER")]
    for name, (kind, data) in values.items():
        if kind == "REG_SZ":
            raw = (data + "\0").encode("utf-16-le")
            lines.append('"%s"=hex(1):%s' % (name, ",".join("%02x" % b for b in raw)))
        else:
            wine("reg", "add", KEY, "/v", name, "/t", kind, "/d", data, "/f")
    # In UTF-16 with its byte-order mark, as Windows writes .reg files: Wine reads the
    # hex(1) bytes of any other file as narrow characters.
    with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False, encoding="utf-16",
                                     newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")
    wine("reg", "import", f.name)
    os.unlink(f.name)


def set_settings(protocol, camera_type, baud):
    wine("reg", "delete", KEY, "/f")
    for name, value in (("COMUINIT", 1), ("COMPORT", 1), ("BAUDRATE", baud),
                        ("PROTOCOL", protocol), ("CAMTYPE", camera_type)):
        wine("reg", "add", KEY, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f")


def start_keypad(exe, stderr_path):
    # Qt writes its messages to the debugger unless told to use standard error.
    env = dict(os.environ, QT_FORCE_STDERR_LOGGING="1")
    return subprocess.Popen(["wine", exe], env=env, stderr=open(stderr_path, "w"))


def open_about(window):
    """The About entry of the system menu (Alt+Space), clicked; the About box, or None."""
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "alt+space")
    time.sleep(1.0)
    menu = None
    for wid in xdotool("search", "--onlyvisible", "--name", "").split():
        if wid != window and not xdotool("getwindowname", wid).strip():
            shell = xdotool("getwindowgeometry", "--shell", wid)
            geometry = dict(line.split("=", 1) for line in shell.split())
            if int(geometry["HEIGHT"]) > 100:
                menu = geometry
    if menu is None:
        return None
    # The last two entries are About, then Serial ports, at the foot of the menu.
    item = 18
    xdotool("mousemove", "--sync", int(menu["X"]) + 40,
            int(menu["Y"]) + int(menu["HEIGHT"]) - 3 * item // 2 - 3)
    xdotool("click", 1)
    for _ in range(50):
        found = xdotool("search", "--name", "About Velmor").split()
        if found:
            return found[0]
        time.sleep(0.1)
    return None


def about_and_store(dialogs_json, protocol, camera_type, baud):
    def then(window):
        problems = []
        about = open_about(window)
        if about is None:
            problems.append("the system menu's About entry opened no About box")
        else:
            xdotool("key", "--window", about, "Escape")
            time.sleep(0.5)
        centres = key_centres(dialogs_json, window)
        xdotool("mousemove", "--sync", *centres["COMMUNICATION SET"])
        xdotool("click", 1)
        time.sleep(1.0)
        stored = wine("reg", "query", KEY).stdout
        print(stored.strip())
        for name, value in (("BAUDRATE", baud), ("PROTOCOL", protocol),
                            ("CAMTYPE", camera_type), ("COMPORT", 1)):
            if "%s    REG_DWORD    0x%x" % (name, value) not in stored:
                problems.append("after COMMUNICATION SET the registry lacks %s=%d" %
                                (name, value))
        return problems
    return then


def hostile_case(exe, vcam, dialogs_json, line, case):
    name, value_name, kind, data, protocol, said = case
    wine("reg", "delete", KEY, "/f")
    reg_import({value_name: (kind, data)})
    work = tempfile.mkdtemp()
    stderr_path = os.path.join(work, "stderr")
    analyser = subprocess.Popen([vcam, "--headless", "--link", line], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)
    problems = []
    keypad = None
    try:
        for _ in range(100):
            if os.path.islink(line):
                break
            time.sleep(0.05)
        keypad = start_keypad(exe, stderr_path)
        window = find_keypad(WINDOW_BOUND_SECONDS)
        if window is None:
            problems.append("no window (the program %s)" %
                            ("ended" if keypad.poll() is not None else "hangs"))
        else:
            xdotool("mousemove", "--sync", *key_centres(dialogs_json, window)["Z/I"])
            xdotool("click", 1)
            time.sleep(1.0)
    finally:
        if keypad:
            keypad.terminate()
            keypad.wait()
        analyser.terminate()
        output = analyser.communicate(timeout=10)[0]
    with open(stderr_path) as f:
        err = f.read()
    frames = [f.split("\t") for f in output.splitlines()]
    kinds = [(f[2], f[5]) for f in frames]
    if kinds != [(protocol, "zoom tele"), (protocol, "stop")]:
        problems.append("the line carried %r" % kinds)
    if said and said not in err:
        problems.append("standard error does not say %r: %r" % (said, err[-400:]))
    if not said and "velmor: the profile" in err:
        problems.append("a good value was refused: %r" % err[-400:])
    return problems


def main():
    exe, vcam, dialogs_json = sys.argv[1:4]
    work = tempfile.mkdtemp()
    line = os.path.join(work, "line")
    # Wine maps its COM ports when it starts: the mapping is set, then Wine restarted.
    wine("reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/d", line, "/f")
    subprocess.run(["wineserver", "-k"])
    subprocess.run(["wineserver", "-w"])
    failed = 0
    for index, (name, protocol, camera_type, baud, expected) in enumerate(CASES):
        set_settings(protocol, camera_type, baud)
        then = (about_and_store(dialogs_json, protocol, camera_type, baud)
                if index == len(CASES) - 1 else None)
        start = lambda *args: start_keypad(exe, os.devnull)  # noqa: E731
        problems, frames = run_case(start, vcam, dialogs_json, protocol, camera_type, baud,
                                    expected, line=line, then=then,
                                    bound_seconds=WINDOW_BOUND_SECONDS)
        failed += report("Wine, " + name, problems, frames)
    for case in HOSTILE:
        problems = hostile_case(exe, vcam, dialogs_json, line, case)
        for problem in problems:
            print("FAIL Wine, hostile %s: %s" % (case[0], problem))
        if not problems:
            print("Wine, hostile %s: refused or read as it should be" % case[0])
        failed += bool(problems)
    # Wine's programs of this run belong to this X server, which ends with the test.
    subprocess.run(["wineserver", "-k"])
    total = len(CASES) + len(HOSTILE)
    print("%d passed, %d failed" % (total - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Holds a PC arrow key on the keypad window under a real X server and reads the line.

The X server auto-repeats a held key as release/press pairs. Whatever the timing of those
pairs, the line must carry movement frames while the key is held, exactly one stop, and
that stop only after the real release, with no movement frame after it.

Usage: x11_hold_arrow_key.py PATH_TO_VELMOR   (run with DISPLAY set, e.g. under xvfb-run)
"""
import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import time
import tty

CASES = [
    # protocol, frame length, first movement frame (Up, camera 0), stop frame
    ("0", 11, b"*00750100B7", b"*00750900BF"),
    ("1", 7, bytes.fromhex("FF000020000020"), bytes.fromhex("FF000000000000")),
]
HOLD_SECONDS = 2.5


def read_line(fd, until, events):
    while time.monotonic() < until:
        ready, _, _ = select.select([fd], [], [], 0.005)
        if ready:
            data = os.read(fd, 4096)
            now = time.monotonic()
            events.extend((now, b) for b in data)


def run_case(program, protocol, length, movement, stop):
    master, slave = pty.openpty()
    tty.setraw(master)
    profile = tempfile.mkdtemp()
    os.makedirs(os.path.join(profile, "PC-ZORVIK"))
    with open(os.path.join(profile, "PC-ZORVIK", "velmor.conf"), "w") as conf:
        conf.write("[Ports]\nCOM1=%s\n[Settings]\nPROTOCOL=%s\n" % (os.ttyname(slave), protocol))
    env = dict(os.environ, XDG_CONFIG_HOME=profile)
    app = subprocess.Popen([program], env=env, stderr=subprocess.DEVNULL)
    try:
        window = None
        for _ in range(100):
            found = subprocess.run(["xdotool", "search", "--name", "OSKA-ZORVIK"],
                                   capture_output=True, text=True, env=env)
            if found.stdout.strip():
                window = found.stdout.split()[0]
                break
            time.sleep(0.1)
        if window is None:
            return ["the window did not appear"]
        subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env)
        events = []
        read_line(master, time.monotonic() + 0.5, events)
        events.clear()
        subprocess.run(["xdotool", "keydown", "Up"], env=env)
        read_line(master, time.monotonic() + HOLD_SECONDS, events)
        released = time.monotonic()
        subprocess.run(["xdotool", "keyup", "Up"], env=env)
        read_line(master, time.monotonic() + 1.5, events)
    finally:
        app.terminate()
        app.wait()
        shutil.rmtree(profile, ignore_errors=True)
        os.close(slave)
        os.close(master)
    raw = bytes(b for _, b in events)
    frames = [(events[i][0], raw[i:i + length]) for i in range(0, len(raw), length)]
    problems = []
    stops = [i for i, (_, f) in enumerate(frames) if f == stop]
    others = [f for _, f in frames if f not in (stop, movement)]
    if others:
        problems.append("unexpected frames: %r" % others[:3])
    if len(stops) != 1:
        problems.append("%d stop frames, expected exactly 1" % len(stops))
    elif stops[0] != len(frames) - 1:
        problems.append("%d frames after the stop" % (len(frames) - 1 - stops[0]))
    elif frames[stops[0]][0] < released:
        problems.append("the stop came before the key was released")
    # The first auto-repeat comes after the X server's delay; a held key must keep moving.
    if len(frames) < 10:
        problems.append("only %d frames while the key was held" % len(frames))
    if stops and not problems:
        late = (frames[stops[0]][0] - released) * 1000
        print("protocol %s: %d frames, stop %.0f ms after the release" % (protocol, len(frames), late))
    return problems


def main():
    program = sys.argv[1]
    failed = 0
    for protocol, length, movement, stop in CASES:
        problems = run_case(program, protocol, length, movement, stop)
        for problem in problems:
            print("FAIL protocol %s: %s" % (protocol, problem))
        failed += bool(problems)
    print("%d passed, %d failed" % (len(CASES) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

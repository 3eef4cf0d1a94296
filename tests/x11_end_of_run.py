#!/usr/bin/env python3
"""Ends the real keypad program in every way it can see while a camera moves.

Each case starts the program under its own Xvfb on a fresh pseudo-terminal, starts a
movement (a held arrow key, or the mouse held down on Z/I) or none, then ends it: a
signal, or the X server killed. Read byte by byte off the line, everything must be whole
frames of the protocol in force, and a movement must end with exactly one stop, last.
With no movement nothing may be sent. Prints the time from the end to the last byte of
the stop.

Usage: x11_end_of_run.py PATH_TO_VELMOR KEYPAD_LAYOUT
"""
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11_hold_arrow_key import (OSKA, OSKA_STOP, PELCO, PELCO_STOP, Window,  # noqa: E402
                                find_window, keypad_layout, line_profile, read_line, xdotool)

ZOOM_IN = 1015
ZOOM_IN_FRAME = {0: b"*00750100B7", 1: bytes.fromhex("FF000020000020")}

CASES = [
    # how it ends, what moves, protocol
    ("SIGTERM", "arrow", 0), ("SIGTERM", "mouse", 1), ("SIGTERM", "none", 0),
    ("SIGHUP", "arrow", 1), ("SIGHUP", "mouse", 0),
    ("SIGINT", "arrow", 0), ("SIGINT", "mouse", 1),
    ("SIGQUIT", "arrow", 1), ("SIGQUIT", "mouse", 0), ("SIGQUIT", "none", 1),
    ("SIGTERM twice", "arrow", 1),
    ("X server killed", "arrow", 0), ("X server killed", "mouse", 1),
]


def start_xvfb():
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-noreset", "-screen", "0",
                               "1024x768x24"], pass_fds=(write,), stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    return server, ":" + number.decode().strip()


def run_case(program, helper, how, moving, protocol):
    server, display = start_xvfb()
    master, slave, profile, _ = line_profile(PROTOCOL=protocol)
    env = dict(os.environ, XDG_CONFIG_HOME=profile, DISPLAY=display)
    app = subprocess.Popen([program], env=env, stderr=subprocess.PIPE, text=True)
    events, problems = [], []
    try:
        wid = find_window(env)
        if wid is None:
            return ["the window did not appear"], None
        xdotool(env, "windowfocus", "--sync", wid)
        time.sleep(0.3)
        window = Window(env, wid, keypad_layout(helper, env))
        if moving == "arrow":
            xdotool(env, "keydown", "Up")
        elif moving == "mouse":
            window.move_to(ZOOM_IN)
            xdotool(env, "mousedown", "1")
        read_line(master, time.monotonic() + 1.5, events)
        ended = time.monotonic()
        if how == "X server killed":
            server.kill()
        else:
            app.send_signal(getattr(signal, how.split()[0]))
            if how.endswith("twice"):
                time.sleep(0.005)
                app.send_signal(signal.SIGTERM)
        read_line(master, time.monotonic() + 1.5, events)
        try:
            status = app.wait(timeout=10)
        except subprocess.TimeoutExpired:
            problems.append("the program did not end")
            app.kill()
            status = app.wait()
        said = app.stderr.read().strip().splitlines()
        if how.startswith("SIG") and status != 128 + getattr(signal, how.split()[0]):
            problems.append("exit status %d" % status)
        if not said or ("stop" not in said[-1] and moving != "none"):
            problems.append("standard error says %r" % said[-1:])
    finally:
        if app.poll() is None:
            app.kill()
            app.wait()
        server.kill()
        server.wait()
        os.close(slave)
        os.close(master)
    return problems + judge(events, ended, moving, protocol), (events, ended, said)


def judge(events, ended, moving, protocol):
    stop = PELCO_STOP if protocol else OSKA_STOP
    movement = ZOOM_IN_FRAME[protocol] if moving == "mouse" else (PELCO if protocol else OSKA)["Up"]
    raw = bytes(b for _, b in events)
    length = len(stop)
    if moving == "none":
        return ["sent %r with nothing moving" % raw] if raw else []
    problems = []
    if len(raw) % length:
        problems.append("a cut frame: %d bytes in all, %r at the end"
                        % (len(raw), raw[-(len(raw) % length):]))
    frames = [raw[i:i + length] for i in range(0, len(raw), length)]
    if [f for f in frames if f not in (movement, stop)]:
        problems.append("unexpected frames: %r" % frames)
    if frames.count(stop) != 1 or frames[-1] != stop:
        problems.append("%d stops, last frame %r" % (frames.count(stop), frames[-1:]))
    if events[-1][0] < ended:
        problems.append("the stop came before the end")
    return problems


def main():
    program, helper = sys.argv[1:3]
    failed = 0
    for case in CASES:
        problems, seen = run_case(program, helper, *case)
        for problem in problems:
            print("FAIL %r: %s" % (case, problem))
        failed += bool(problems)
        if not problems and case[1] != "none":
            events, ended, said = seen
            stop_bytes = len(OSKA_STOP if case[2] == 0 else PELCO_STOP)
            first, last = events[-stop_bytes][0], events[-1][0]
            print("%-16s %-5s protocol %d: stop %.0f..%.0f ms after the end; %s"
                  % (case[0], case[1], case[2], (first - ended) * 1000,
                     (last - ended) * 1000, said[-1]))
        elif not problems:
            print("%-16s none  protocol %d: nothing sent; %s" % (case[0], case[2], seen[2][-1]))
    print("%d passed, %d failed" % (len(CASES) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

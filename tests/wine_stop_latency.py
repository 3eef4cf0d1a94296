#!/usr/bin/env python3
"""How late the stop comes after a held arrow key's release, velmor.exe under Wine: a figure
to read, never a pass or fail on time.

Wine's COM1 is a pseudo-terminal this script reads raw; the keypad sends PELCO D at 2400
baud to camera 0. Up is held (the X server auto-repeats it) for HOLD seconds and released,
RUNS times in one window; each time the line must carry Up frames, then one whole stop.
Printed: for each run, from the release to the
stop's first and last byte, the frame period and how many bytes of movement frames
came after the release; then the median and the worst, and the
worst in frames.

Usage: wine_stop_latency.py VELMOR_EXE [RUNS] [HOLD]
       (under xvfb-run, with WINEPREFIX naming a prefix of the build's own)
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_end_to_end import BOUND_SECONDS, Line, reg_set, starter, wine  # noqa: E402
from x11_hold_arrow_key import PELCO, PELCO_STOP  # noqa: E402
from x11_vcam_end_to_end import find_keypad, xdotool  # noqa: E402

FRAME = len(PELCO_STOP)


def one_run(line, hold):
    """(release to the stop's first byte, to its last byte, frame period) in ms, or a
    problem in words."""
    line.events.clear()
    xdotool("keydown", "Up")
    line.read(hold)
    released = time.monotonic()
    xdotool("keyup", "Up")
    line.read(1.0)
    events = line.events
    raw = bytes(b for _, b in events)
    if len(raw) % FRAME or not raw.endswith(PELCO_STOP):
        return "the line carried %d bytes ending %r" % (len(raw), raw[-14:])
    starts = [events[i][0] for i in range(0, len(raw), FRAME)]
    frames = [raw[i:i + FRAME] for i in range(0, len(raw), FRAME)]
    if frames[:-1] != [PELCO["Up"]] * (len(frames) - 1):
        return "not Up frames then one stop"
    # Bytes of movement frames read after the release: the frame in flight, or more.
    before_stop = sum(1 for t, _ in events[:-FRAME] if t >= released)
    gaps = [b - a for a, b in zip(starts, starts[1:-1])]
    period = statistics.median(gaps) * 1000 if gaps else float("nan")
    return ((events[-FRAME][0] - released) * 1000, (events[-1][0] - released) * 1000, period,
            before_stop)


def main():
    exe = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    hold = float(sys.argv[3]) if len(sys.argv) > 3 else 3.0
    path = os.path.join(tempfile.mkdtemp(), "line")
    wine("reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/d", path, "/f")
    subprocess.run(["wineserver", "-k"])
    reg_set({key: ("REG_DWORD", value) for key, value in
             {"COMUINIT": 1, "COMPORT": 1, "BAUDRATE": 2400, "PROTOCOL": 1,
              "CAMTYPE": 0}.items()})
    line = Line(path)
    keypad = starter(exe)()
    results, problems = [], []
    try:
        window = find_keypad(BOUND_SECONDS)
        if window is None:
            print("FAIL the keypad window did not appear")
            return 1
        xdotool("windowfocus", "--sync", window)
        time.sleep(1.0)
        line.read(0.5)
        for run in range(runs):
            got = one_run(line, hold)
            if isinstance(got, str):
                problems.append(got)
                print("run %d: %s" % (run + 1, got))
            else:
                results.append(got)
                print("run %d: stop %.0f..%.0f ms after the release, frame period %.0f ms, "
                      "%d movement bytes after the release" % ((run + 1,) + got))
    finally:
        subprocess.run(["wine", "taskkill", "/IM", "velmor.exe"], capture_output=True)
        try:
            keypad.wait(timeout=BOUND_SECONDS)
        except subprocess.TimeoutExpired:
            keypad.kill()
        line.close()
        wine("reg", "delete", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/f")
        subprocess.run(["wineserver", "-k"])
    if results:
        last = [r[1] for r in results]
        period = statistics.median(r[2] for r in results)
        print("release to the stop's last byte, %d runs: median %.0f ms, worst %.0f ms; "
              "frame period %.0f ms, so the worst is %.2f frames"
              % (len(last), statistics.median(last), max(last), period, max(last) / period))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

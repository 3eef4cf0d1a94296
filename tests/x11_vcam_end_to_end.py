#!/usr/bin/env python3
"""The keypad program and the line analyser, end to end, under a real X server.

velmor-vcam --headless makes a pseudo-terminal; the keypad's profile points COM1 at it.
xdotool types and clicks on the keypad window as an operator would, and every frame the
analyser decodes must be exactly what the operator did, in order, with no bad frame.
Each case is one protocol and one camera type, since both decide which keys send. Then
both protocols again with the analyser as a serial server (--tcp) and COM1 a tcp:// or
rfc2217:// entry.

Usage: x11_vcam_end_to_end.py VELMOR VELMOR_VCAM KEYPAD_LAYOUT   (run under xvfb-run)
       KEYPAD_LAYOUT is the test helper that prints the window's layout in pixels.
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from x11_hold_arrow_key import keypad_layout

HOLD_SECONDS = 1.2

# The operator's actions, the same in every case; keys a case disables send nothing.
ACTIONS = [
    ("type", "12"), ("key", "Return"),
    ("click", "Z/I"),
    ("hold", "Up"),
    ("click", "F/F"),
    ("click", "POWER"), ("click", "POWER"),
    ("click", "M/U"),
    ("click", "SET"),
    ("click", "INIT"),
    ("right", None),
    ("type", "7"), ("click", "CAM"), ("key", "Return"),
    ("click", "Z/O"),
    ("click", "RESET"),
]

# Decoded frames (address, meaning) after the held key's repeats are collapsed. Under
# PELCO D the CAM click finds the key disabled, so keyboard focus stays on M/U, the last
# enabled key clicked, and the Return after it clicks M/U: a stop, as on any M/U click.
CASES = [
    ("OSKA-DEFAULT, ZOOM", 0, 0, 9600, [
        (12, "zoom tele"), (12, "stop"),
        (12, "zoom tele"), (12, "stop"),
        (12, "focus far"), (12, "stop"),
        (12, "power"), (12, "power"),
        (12, "menu"), (12, "stop"),
        (12, "set"), (12, "stop"),
        (12, "init"),
        (12, "stop"),
        (12, "select camera 7"),
        (7, "zoom wide"), (7, "stop"),
        (7, "reset"),
    ]),
    ("PELCO D, ZOOM", 1, 0, 2400, [
        (12, "zoom tele"), (12, "stop"),
        (12, "zoom tele"), (12, "stop"),
        (12, "focus far"), (12, "stop"),
        (12, "camera off"), (12, "camera on"),
        (12, "run pattern 95"), (12, "stop"),
        (12, "stop"),
        (7, "stop"),
        (7, "zoom wide"), (7, "stop"),
    ]),
    ("PELCO D, B/D", 1, 1, 2400, [
        (12, "zoom tele"), (12, "stop"),
        (12, "zoom tele"), (12, "stop"),
        (12, "camera off"), (12, "camera on"),
        (12, "run pattern 95"), (12, "stop"),
        (12, "stop"),
        (7, "stop"),
        (7, "zoom wide"), (7, "stop"),
    ]),
    ("OSKA-DEFAULT, B/D", 0, 1, 9600, [
        (12, "zoom tele"), (12, "stop"),
        (12, "zoom tele"), (12, "stop"),
        (12, "menu"), (12, "stop"),
        (12, "stop"),
        (12, "select camera 7"),
        (7, "zoom wide"), (7, "stop"),
        (7, "reset"),
    ]),
]


def xdotool(*args):
    return subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True,
                          text=True).stdout


def key_centres(layout, window):
    """Screen centre of every captioned control, the layout scaled to the window's size."""
    geometry = dict(line.split("=") for line in
                    xdotool("getwindowgeometry", "--shell", window).split())
    x0, y0 = int(geometry["X"]), int(geometry["Y"])
    sx = int(geometry["WIDTH"]) / layout["size"][0]
    sy = int(geometry["HEIGHT"]) / layout["size"][1]
    centres = {}
    for control in layout["controls"]:
        x, y, w, h = control["rect"]
        name = control.get("caption") or control["kind"]
        centres[name] = (int(x0 + (x + w / 2) * sx), int(y0 + (y + h / 2) * sy))
    return centres


def operate(centres, actions=ACTIONS):
    for action, what in actions:
        if action == "type":
            xdotool("type", "--delay", 80, what)
        elif action == "key":
            xdotool("key", what)
        elif action == "hold":
            xdotool("keydown", what)
            time.sleep(HOLD_SECONDS)
            xdotool("keyup", what)
        elif action == "click":
            xdotool("mousemove", *centres[what])
            xdotool("click", 1)
        elif action == "right":
            xdotool("mousemove", *centres["picture"])
            xdotool("click", 3)
        time.sleep(0.3)


def start_linux_keypad(velmor, work, line, protocol, camera_type, baud):
    """The keypad program with a profile of its own whose COM1 is the analyser's line."""
    os.makedirs(os.path.join(work, "PC-ZORVIK"))
    with open(os.path.join(work, "PC-ZORVIK", "velmor.conf"), "w") as conf:
        conf.write("[Ports]\nCOM1=%s\n[Settings]\nCOMUINIT=1\nCOMPORT=1\nBAUDRATE=%d\n"
                   "PROTOCOL=%d\nCAMTYPE=%d\n" % (line, baud, protocol, camera_type))
    return subprocess.Popen([velmor], env=dict(os.environ, XDG_CONFIG_HOME=work),
                            stderr=subprocess.DEVNULL)


def find_keypad(bound_seconds=10):
    for _ in range(int(bound_seconds * 10)):
        found = xdotool("search", "--name", "OSKA-ZORVIK").split()
        if found:
            return found[0]
        time.sleep(0.1)
    return None


def judge(output, expected):
    """Problems with the analyser's output, and its frames."""
    frames = [line.split("\t") for line in output.splitlines()]
    problems = ["not a good frame: %s" % "  ".join(f) for f in frames if f[4] != "good"]
    seen = []
    for f in frames:
        # Noise between frames has no address ("-"): it is a problem above, not a crash.
        frame = (int(f[3]) if f[3].isdigit() else f[3], f[5])
        if not (seen and seen[-1] == frame == (seen[-1][0], "zoom tele")):
            seen.append(frame)
    if seen != expected:
        problems.append("decoded %r,\n   expected %r" % (seen, expected))
    return problems, frames


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def listening(port):
    """Whether something listens on 127.0.0.1:port, from the kernel's table (a probing
    connect would be the analyser's one connection)."""
    with open("/proc/net/tcp") as table:
        rows = [line.split() for line in table.readlines()[1:]]
    return any(r[1] == "0100007F:%04X" % port and r[3] == "0A" for r in rows)


def run_case(start_keypad, vcam, layout, protocol, camera_type, baud, expected,
             line=None, then=None, bound_seconds=10, actions=ACTIONS, tcp_port=None):
    """One case: start_keypad(work, line, protocol, camera_type, baud) starts the keypad on
    the analyser's line (a link at line, or in a fresh folder; with tcp_port, the analyser
    is a serial server on 127.0.0.1 instead), the operator works it, and then(window), if
    given, runs before the keypad ends and returns problems of its own."""
    work = tempfile.mkdtemp()
    line = line or os.path.join(work, "line")
    where = ["--tcp", "127.0.0.1:%d" % tcp_port] if tcp_port else ["--link", line]
    analyser = subprocess.Popen([vcam, "--headless", *where], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)
    keypad = None
    extra = []
    try:
        for _ in range(100):
            if listening(tcp_port) if tcp_port else os.path.islink(line):
                break
            time.sleep(0.05)
        keypad = start_keypad(work, line, protocol, camera_type, baud)
        window = find_keypad(bound_seconds)
        if window is None:
            return ["the keypad window did not appear"], []
        xdotool("windowfocus", "--sync", window)
        time.sleep(0.3)
        operate(key_centres(layout, window), actions)
        time.sleep(0.5)
        if then:
            extra = then(window)
    finally:
        if keypad:
            keypad.terminate()
            keypad.wait()
        analyser.terminate()
        output = analyser.communicate(timeout=10)[0]
        shutil.rmtree(work, ignore_errors=True)
    problems, frames = judge(output, expected)
    return problems + extra, frames


def report(name, problems, frames):
    for problem in problems:
        print("FAIL %s: %s" % (name, problem))
    if not problems:
        print("%s: %d frames decoded, all as operated" % (name, len(frames)))
    return bool(problems)


def main():
    velmor, vcam, helper = sys.argv[1:4]
    layout = keypad_layout(helper)
    failed = 0
    for name, protocol, camera_type, baud, expected in CASES:
        start = lambda *args: start_linux_keypad(velmor, *args)  # noqa: E731
        failed += report(name, *run_case(start, vcam, layout, protocol, camera_type, baud,
                                         expected))
    # Both protocols with the analyser as a serial server, COM1 a network entry.
    network = [(scheme, case) for scheme in ("tcp", "rfc2217") for case in CASES[:2]]
    for scheme, (name, protocol, camera_type, baud, expected) in network:
        port = free_port()
        entry = "%s://127.0.0.1:%d" % (scheme, port)
        start = lambda work, _, *args: start_linux_keypad(velmor, work, entry, *args)  # noqa
        failed += report("%s, %s" % (entry, name), *run_case(
            start, vcam, layout, protocol, camera_type, baud, expected, tcp_port=port))
    print("%d passed, %d failed" % (len(CASES) + len(network) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Holds PC arrow keys on the keypad window under a real X server and reads the line.

The X server auto-repeats a held key as release/press pairs. Whatever the timing of those
pairs, and wherever the keyboard focus is, a held arrow key must put on the line only its
movement frames while it is held, then exactly one stop, after the real release, in the
protocol the movement started in, and it must change no setting: the repeats must not walk
the focus into a combo box or change the row of a focused one. Before each hold the wheel
is turned over two combo boxes that do not have the focus, and Alt+5, Alt+Enter are typed:
none of that may change anything either. Afterwards COMMUNICATION SET stores what the
combo boxes hold, and the profile must show the settings the run started with.

Usage: x11_hold_arrow_key.py PATH_TO_VELMOR KEYPAD_LAYOUT   (run with DISPLAY set, e.g.
       under xvfb-run; KEYPAD_LAYOUT is the test helper that prints the window's layout)
"""
import configparser
import json
import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import time
import tty

OSKA_STOP = b"*00750900BF"
PELCO_STOP = bytes.fromhex("FF000000000000")
# Movement frames to camera 0.
OSKA = {"Up": b"*00750100B7", "Down": b"*00750300B9", "Left": b"*00750500BB",
        "Right": b"*00750600BC"}
PELCO = {"Up": bytes.fromhex("FF000020000020"), "Down": bytes.fromhex("FF000040000040"),
         "Left": bytes.fromhex("FF000080000080"), "Right": bytes.fromhex("FF000100000001")}

# Controls, by their numbers.
PROTOCOL_COMBO = 1021
CAMERA_COMBO = 1022
COM_COMBO = 1024
BAUD_COMBO = 1025
COMMUNICATION_SET = 1034

CASES = [
    # protocol, camera type, control clicked for the focus (None: where it starts), key,
    # and whether two busy processes load both cores while the key is held: a busy machine
    # delays the events of each repeat, which must still read as repeats, not releases.
    (0, 0, None, "Down"),
    (1, 1, None, "Up"),
    (0, 1, None, "Left"),
    (1, 0, None, "Right"),
    (0, 0, PROTOCOL_COMBO, "Down"),
    (1, 0, CAMERA_COMBO, "Up"),
    (0, 1, COM_COMBO, "Up"),
    (1, 1, BAUD_COMBO, "Down"),
    (0, 0, None, "Up", True),
    (1, 0, None, "Left", True),
]
HOLD_SECONDS = 3.0


def read_line(fd, until, events):
    while time.monotonic() < until:
        ready, _, _ = select.select([fd], [], [], 0.005)
        if ready:
            data = os.read(fd, 4096)
            now = time.monotonic()
            events.extend((now, b) for b in data)


def xdotool(env, *args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, env=env)


def find_window(env):
    """The keypad window's id, or None; a loaded machine may take a while to start it."""
    for _ in range(600):
        found = xdotool(env, "search", "--name", "OSKA-ZORVIK").stdout.split()
        if found:
            return found[0]
        time.sleep(0.1)
    return None


def keypad_layout(helper, env=None):
    """The window's size and its controls' rectangles in pixels, as the program lays them
    out in the display's fonts, from the test helper that builds them."""
    return json.loads(subprocess.run([helper], capture_output=True, text=True, env=env,
                                     check=True).stdout)


class Window:
    """The keypad window on the screen, with its controls where layout (the helper's
    output, in pixels) puts them."""

    def __init__(self, env, wid, layout):
        self.env, self.wid = env, wid
        self.layout = layout
        shell = xdotool(env, "getwindowgeometry", "--shell", wid).stdout
        geometry = dict(line.split("=", 1) for line in shell.split())
        self.x, self.y = int(geometry["X"]), int(geometry["Y"])
        self.width, self.height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])

    def point(self, control, dx=6, dy=8):
        """The screen point a few pixels inside the top-left corner of control."""
        x, y = next(c["rect"][:2] for c in self.layout["controls"] if c["id"] == control)
        width, height = self.layout["size"]
        return (self.x + round(x * self.width / width) + dx,
                self.y + round(y * self.height / height) + dy)

    def move_to(self, control):
        x, y = self.point(control)
        xdotool(self.env, "mousemove", "--sync", str(x), str(y))

    def click(self, control):
        self.move_to(control)
        xdotool(self.env, "click", "1")

    def wheel(self, control):
        self.move_to(control)
        xdotool(self.env, "click", "5", "click", "5", "click", "4")


def line_profile(**settings):
    """A raw pseudo-terminal, and a profile folder whose COM1 is its far end, with settings."""
    master, slave = pty.openpty()
    tty.setraw(master)
    profile = tempfile.mkdtemp()
    conf_path = os.path.join(profile, "PC-ZORVIK", "velmor.conf")
    os.makedirs(os.path.dirname(conf_path))
    with open(conf_path, "w") as conf:
        conf.write("[Ports]\nCOM1=%s\n[Settings]\n" % os.ttyname(slave))
        conf.writelines("%s=%d\n" % item for item in settings.items())
    return master, slave, profile, conf_path


def busy_cores():
    """Two busy processes, one for each core, until they are killed."""
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(2)]


def run_case(program, layout, protocol, camera_type, focus, key, loaded=False):
    master, slave, profile, conf_path = line_profile(PROTOCOL=protocol, CAMTYPE=camera_type)
    env = dict(os.environ, XDG_CONFIG_HOME=profile)
    app = subprocess.Popen([program], env=env, stderr=subprocess.DEVNULL)
    stored = None
    try:
        wid = find_window(env)
        if wid is None:
            return ["the window did not appear"]
        xdotool(env, "windowfocus", "--sync", wid)
        time.sleep(0.3)
        window = Window(env, wid, layout)
        events = []
        window.wheel(PROTOCOL_COMBO)
        window.wheel(CAMERA_COMBO)
        xdotool(env, "key", "alt+5", "alt+Return")
        if focus:
            window.click(focus)
        read_line(master, time.monotonic() + 0.5, events)
        if events:
            return ["frames before the key went down: %r" % bytes(b for _, b in events)]
        hogs = busy_cores() if loaded else []
        try:
            xdotool(env, "keydown", key)
            read_line(master, time.monotonic() + HOLD_SECONDS, events)
            released = time.monotonic()
            xdotool(env, "keyup", key)
        finally:
            for hog in hogs:
                hog.kill()
                hog.wait()
        read_line(master, time.monotonic() + 1.0, events)
        held = len(events)
        window.click(COMMUNICATION_SET)
        read_line(master, time.monotonic() + 1.0, events)
        config = configparser.ConfigParser()
        config.optionxform = str
        config.read(conf_path)
        stored = dict(config["Settings"]) if config.has_section("Settings") else {}
    finally:
        app.terminate()
        app.wait()
        shutil.rmtree(profile, ignore_errors=True)
        os.close(slave)
        os.close(master)
    movement = (PELCO if protocol else OSKA)[key]
    stop = PELCO_STOP if protocol else OSKA_STOP
    raw = bytes(b for _, b in events)
    length = len(movement)
    frames = [(events[i][0], raw[i:i + length]) for i in range(0, len(raw), length)]
    problems = []
    if len(events) != held:
        problems.append("COMMUNICATION SET sent %r" % raw[held:])
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
    # The first auto-repeat comes after the X server's delay; a held key must keep moving,
    # through more repeats than the window has controls.
    if len(frames) < 25:
        problems.append("only %d frames while the key was held" % len(frames))
    expected = {"PROTOCOL": str(protocol), "CAMTYPE": str(camera_type), "COMPORT": "1",
                "BAUDRATE": "2400" if protocol else "9600"}
    for name, value in expected.items():
        if stored is None or stored.get(name) != value:
            problems.append("stored %s is %s, expected %s"
                            % (name, stored and stored.get(name), value))
    if not problems:
        late = (frames[stops[0]][0] - released) * 1000
        print("protocol %d, camera type %d, focus %s, %s held%s: %d frames, stop %.0f ms after "
              "the release" % (protocol, camera_type, focus or "start", key,
                               " on a busy machine" if loaded else "", len(frames), late))
    return problems


def main():
    program, helper = sys.argv[1:3]
    layout = keypad_layout(helper)
    failed = 0
    for case in CASES:
        problems = run_case(program, layout, *case)
        for problem in problems:
            print("FAIL %r: %s" % (case, problem))
        failed += bool(problems)
    print("%d passed, %d failed" % (len(CASES) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

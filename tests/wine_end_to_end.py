#!/usr/bin/env python3
"""velmor.exe under Wine on a real X server, against the virtual camera on a real line.

Wine's COM1 is the analyser's pseudo-terminal (HKLM\\Software\\Wine\\Ports). The cases and
the frames they must give are those of x11_vcam_end_to_end, with the settings in the
registry. The last case also opens About from the system menu and presses COMMUNICATION
SET, after which `wine reg query` must show the settings. Then hostile registry values: the
window must come up, say which value it refused, and send in the default protocol.

Usage: wine_end_to_end.py VELMOR_EXE VELMOR_VCAM KEYPAD_LAYOUT
       (under xvfb-run, with WINEPREFIX naming a prefix of the test's own)
"""
import os
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11_hold_arrow_key import keypad_layout  # noqa: E402
from x11_vcam_end_to_end import CASES, key_centres, report, run_case, xdotool  # noqa: E402

KEY = r"HKCU\Software\PC-ZORVIK\velmor\Settings"
BOUND_SECONDS = 60  # Wine starts slowly on a loaded machine
# QSettings decodes "@Variant(...)" text, also when stored as a REG_BINARY of UTF-16: this
# one it reads as a list nested 30,000 deep, overflowing the stack, and ONE as the number 1.
DEEP_VARIANT = "@Variant(%s\0\0\0\x02\0\0\0\x01)" % ("\0\0\0\t\0\0\0\x01" * 30000)
ONE = "@Variant(\0\0\0\x02\0\0\0\x01)"
# (case, value, registry type, data, protocol then on the line, refusal said, if any)
HOSTILE = [
    ("deep @Variant", "PROTOCOL", "REG_BINARY", DEEP_VARIANT, "OSKA-DEFAULT",
     r"value Settings\PROTOCOL is a REG_BINARY value"),
    ("@Variant of 1", "PROTOCOL", "REG_BINARY", ONE, "OSKA-DEFAULT",
     r"value Settings\PROTOCOL is a REG_BINARY value"),
    ("@Variant text", "PROTOCOL", "REG_SZ", ONE, "OSKA-DEFAULT",
     r"value Settings\PROTOCOL holds an encoded value"),
    ("huge text", "PROTOCOL", "REG_SZ", "1" * 10000, "OSKA-DEFAULT",
     r"value Settings\PROTOCOL is 20002 bytes of text"),
    ("list", "PROTOCOL", "REG_MULTI_SZ", "1\\01", "OSKA-DEFAULT",
     r"value Settings\PROTOCOL is a REG_MULTI_SZ value"),
    ("text number", "PROTOCOL", "REG_SZ", " 1", "PELCO D", None),
    ("wide number", "PROTOCOL", "REG_QWORD", "1", "PELCO D", None),
]


def wine(*args):
    return subprocess.run(["wine", *args], capture_output=True, text=True)


def reg_set(values):
    """Replaces the settings with values {name: (type, data)}. Text, and binary data given
    as text (UTF-16, as QSettings stores it), go in through a .reg file, which carries any
    character, NUL included; Wine reads hex(1) bytes as UTF-16 only in a UTF-16 file."""
    wine("reg", "delete", KEY, "/f")
    lines = ["Windows Registry Editor Version 5.00", "", "[HKEY_CURRENT_USER%s]" % KEY[4:]]
    for name, (kind, data) in values.items():
        if kind in ("REG_SZ", "REG_BINARY"):
            raw = (data + ("\0" if kind == "REG_SZ" else "")).encode("utf-16-le")
            lines.append('"%s"=hex%s:%s' % (name, "(1)" if kind == "REG_SZ" else "",
                                            ",".join("%02x" % b for b in raw)))
        else:
            wine("reg", "add", KEY, "/v", name, "/t", kind, "/d", str(data), "/f")
    with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False, encoding="utf-16",
                                     newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")
    wine("reg", "import", f.name)
    os.unlink(f.name)


def starter(exe, stderr_path=os.devnull):
    # QT_FORCE_STDERR_LOGGING: standard error even without a console.
    env = dict(os.environ, QT_FORCE_STDERR_LOGGING="1")
    return lambda *_: subprocess.Popen(["wine", exe], env=env, stderr=open(stderr_path, "w"))


def about_and_store(layout, settings):
    def then(window):
        problems = []
        # Alt+Space opens the system menu; About is the last but one entry.
        xdotool("key", "alt+space")
        time.sleep(1.0)
        for wid in xdotool("search", "--onlyvisible", "--name", "^$").split():
            shell = xdotool("getwindowgeometry", "--shell", wid).split()
            g = {k: int(v) for k, v in (kv.split("=") for kv in shell) if k != "SCREEN"}
            if 100 < g["HEIGHT"] < 600:
                xdotool("mousemove", "--sync", g["X"] + 40, g["Y"] + g["HEIGHT"] - 30)
                xdotool("click", 1)
        time.sleep(1.5)
        about = xdotool("search", "--name", "About Velmor").split()
        if not about:
            problems.append("the system menu's About entry opened no About box")
        else:
            xdotool("key", "--window", about[0], "Escape")
            time.sleep(0.5)
        xdotool("mousemove", "--sync", *key_centres(layout, window)["COMMUNICATION SET"])
        xdotool("click", 1)
        time.sleep(1.0)
        stored = wine("reg", "query", KEY).stdout
        print(stored.strip())
        problems += ["after COMMUNICATION SET the registry lacks %s=%d" % (name, value)
                     for name, value in settings.items()
                     if "%s    REG_DWORD    0x%x" % (name, value) not in stored]
        return problems
    return then


def hostile_case(exe, vcam, layout, line, case):
    name, value, kind, data, protocol, said = case
    reg_set({value: (kind, data)})
    stderr_path = tempfile.mktemp()
    problems, frames = run_case(starter(exe, stderr_path), vcam, layout, None, None, None,
                                [(0, "zoom tele"), (0, "stop")], line=line,
                                bound_seconds=BOUND_SECONDS, actions=[("click", "Z/I")])
    problems += ["a frame in %s, not %s" % (f[2], protocol) for f in frames if f[2] != protocol]
    with open(stderr_path) as f:
        err = f.read()
    os.unlink(stderr_path)
    if said and said not in err or not said and "velmor: the profile" in err:
        problems.append("standard error says %r" % err[-300:])
    return problems


def tcp_case(exe, vcam, layout):
    """The PELCO D case with COM1 a raw TCP entry in the registry's port mapping, the
    analyser the serial server at its end."""
    name, protocol, camera_type, baud, expected = CASES[1]
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    ports = r"HKCU\Software\PC-ZORVIK\velmor\Ports"
    wine("reg", "add", ports, "/v", "COM1", "/d", "tcp://127.0.0.1:%d" % port, "/f")
    reg_set({key: ("REG_DWORD", value) for key, value in {
        "COMUINIT": 1, "COMPORT": 1, "BAUDRATE": baud, "PROTOCOL": protocol,
        "CAMTYPE": camera_type}.items()})
    failed = report("Wine, raw TCP, " + name, *run_case(
        starter(exe), vcam, layout, protocol, camera_type, baud, expected,
        bound_seconds=BOUND_SECONDS, tcp_port=port))
    wine("reg", "delete", ports, "/f")
    return failed


def main():
    exe, vcam, helper = sys.argv[1:4]
    # The helper lays the window out in the host's Qt and fonts. Scaled to the window's size
    # under Wine it is near enough to click on while Wine's fonts are near the host's.
    layout = keypad_layout(helper)
    line = os.path.join(tempfile.mkdtemp(), "line")
    # Wine maps its COM ports when it starts: the mapping is set, then Wine restarted.
    wine("reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/d", line, "/f")
    subprocess.run(["wineserver", "-k"])
    failed = 0
    for index, (name, protocol, camera_type, baud, expected) in enumerate(CASES):
        settings = {"COMUINIT": 1, "COMPORT": 1, "BAUDRATE": baud, "PROTOCOL": protocol,
                    "CAMTYPE": camera_type}
        reg_set({key: ("REG_DWORD", value) for key, value in settings.items()})
        then = about_and_store(layout, settings) if index == len(CASES) - 1 else None
        failed += report("Wine, " + name, *run_case(
            starter(exe), vcam, layout, protocol, camera_type, baud, expected, line=line,
            then=then, bound_seconds=BOUND_SECONDS))
    failed += tcp_case(exe, vcam, layout)
    for case in HOSTILE:
        problems = hostile_case(exe, vcam, layout, line, case)
        for problem in problems:
            print("FAIL Wine, hostile %s: %s" % (case[0], problem))
        if not problems:
            print("Wine, hostile %s: the window came up and sent as it should" % case[0])
        failed += bool(problems)
    # Wine's programs of this run belong to this X server, which ends with the test.
    subprocess.run(["wineserver", "-k"])
    print("%d passed, %d failed" % (len(CASES) + 1 + len(HOSTILE) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

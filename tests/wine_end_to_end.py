#!/usr/bin/env python3
"""velmor.exe under Wine on a real X server, against the virtual camera on a real line.

Wine's COM1 is the analyser's pseudo-terminal (HKLM\\Software\\Wine\\Ports). The cases and
the frames they must give are those of x11_vcam_end_to_end, with the settings in the
registry. The last case also opens About from the system menu and presses COMMUNICATION
SET, after which `wine reg query` must show the settings. In every case each combo box's
field, as the X server shows it, must hold text. Then hostile registry values: the
window must come up, say which value it refused, and send in the default protocol.

Then the cases of a real Windows desk, read byte by byte off a pseudo-terminal that is Wine's
COM7: the keypad's COM1 mapped to COM7 in the registry, also on a line another program left
with crtscts on; the first-start mapping and the Serial ports dialog (F2) offering Wine's
mapped COM7 for COM1; taskkill (WM_CLOSE) and the session's end (wineboot -e) with an arrow
key held, each ending in one whole stop and no program; and, given the zip, velmor.exe
unpacked into a prefix where it was never installed, sending one frame; the remote keypad
driven by curl from the Linux side over loopback. Last, `taskkill /F`
while Up is held, in both protocols, and `taskkill /F /T` where Wine's taskkill has /T
(Wine 8's has not): the guardian must end the line with one whole stop.

Usage: wine_end_to_end.py VELMOR_EXE VELMOR_VCAM KEYPAD_LAYOUT [VELMOR_ZIP]
       (under xvfb-run, with WINEPREFIX naming a prefix of the test's own)
"""
import base64
import ctypes
import hashlib
import hmac
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import termios
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11_end_of_run import judge as judge_end, start_ser2net  # noqa: E402
from x11_hold_arrow_key import OSKA, OSKA_STOP, keypad_layout, read_line  # noqa: E402
import x11_vcam_end_to_end  # noqa: E402
from x11_vcam_end_to_end import CASES, find_keypad, report, run_case, xdotool  # noqa: E402

KEY = r"HKCU\Software\PC-ZORVIK\velmor\Settings"
PORTS = r"HKCU\Software\PC-ZORVIK\velmor\Ports"
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
    character, NUL included; Wine reads hex(1) bytes as UTF-16 only in a UTF-16 file. The
    port mapping goes too: COM1 is then Wine's COM1."""
    wine("reg", "delete", KEY, "/f")
    wine("reg", "delete", PORTS, "/f")
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


COMBOS = {1022: "Camera", 1021: "Protocol", 1024: "COM PORT", 1025: "Baudrate"}
ARROW_PIXELS = 22  # the drop-down button at a combo box's right end, and its frame
TEXT_PIXELS = 15  # dark pixels that make a field's text; its caret alone has fewer


STATUS_LIST = 1035


def key_centres(layout, window):
    """Where the controls are in the window under Wine. The helper lays the window out in
    the host's fonts, where the status list is wider: the controls left of its right edge
    stand where the helper puts them, those right of it move with the window's right edge."""
    geometry = dict(line.split("=") for line in
                    xdotool("getwindowgeometry", "--shell", window).split())
    x0, y0 = int(geometry["X"]), int(geometry["Y"])
    shift = int(geometry["WIDTH"]) - layout["size"][0]
    sy = int(geometry["HEIGHT"]) / layout["size"][1]
    status = next(c["rect"] for c in layout["controls"] if c["id"] == STATUS_LIST)
    centres = {}
    for control in layout["controls"]:
        x, y, w, h = control["rect"]
        dx = shift if x >= status[0] + status[2] else 0
        centres[control.get("caption") or control["kind"]] = (int(x0 + x + dx + w / 2),
                                                             int(y0 + (y + h / 2) * sy))
    return centres


# The cases shared with the Linux test click where this says.
x11_vcam_end_to_end.key_centres = key_centres


def screen_pixels(x, y, width, height):
    """Rows of 0xRRGGBB of a rectangle of the X server's screen, read through libX11."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XGetImage.restype = ctypes.c_void_p
    x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                              ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    x11.XGetPixel.restype = ctypes.c_ulong
    x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
    x11.XDestroyImage.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    z_pixmap = 2
    image = x11.XGetImage(display, x11.XDefaultRootWindow(display), x, y, width, height,
                          0xFFFFFFFF, z_pixmap)
    rows = [[x11.XGetPixel(image, i, j) for i in range(width)] for j in range(height)]
    x11.XDestroyImage(image)
    x11.XCloseDisplay(display)
    return rows


def combo_text_shown(layout, window):
    """Problems with the combo boxes' fields as the screen shows them: each must hold the
    dark pixels of its text, left of its drop-down button. A face whose line box is taller
    than the field once drew every field empty while the rows were selected."""
    geometry = dict(line.split("=") for line in
                    xdotool("getwindowgeometry", "--shell", window).split())
    sx = int(geometry["WIDTH"]) / layout["size"][0]
    sy = int(geometry["HEIGHT"]) / layout["size"][1]
    problems, counts = [], []
    for control in layout["controls"]:
        if control["id"] not in COMBOS:
            continue
        x, y, w, h = control["rect"]
        left, top = int(geometry["X"]) + int(x * sx) + 3, int(geometry["Y"]) + int(y * sy) + 3
        rows = screen_pixels(left, top, int(w * sx) - ARROW_PIXELS, int(h * sy) - 6)
        dark = sum(1 for row in rows for p in row
                   if (p >> 16 & 255) * 299 + (p >> 8 & 255) * 587 + (p & 255) * 114 < 128000)
        counts.append("%s %d" % (COMBOS[control["id"]], dark))
        if dark < TEXT_PIXELS:
            problems.append("the %s field shows no text (%d dark pixels)"
                            % (COMBOS[control["id"]], dark))
    print("Wine, dark pixels in the combo fields: " + ", ".join(counts))
    return problems


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


class Line:
    """A pseudo-terminal whose slave a link at path names (Wine's COM7), read raw."""

    def __init__(self, path, crtscts=False):
        self.master, self.slave = os.openpty()
        attrs = termios.tcgetattr(self.slave)
        attrs[2] = attrs[2] | termios.CRTSCTS if crtscts else attrs[2] & ~termios.CRTSCTS
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        if os.path.lexists(path):
            os.unlink(path)
        os.symlink(os.ttyname(self.slave), path)
        self.events = []

    def read(self, seconds):
        read_line(self.master, time.monotonic() + seconds, self.events)
        return bytes(b for _, b in self.events)

    def crtscts(self):
        return bool(termios.tcgetattr(self.slave)[2] & termios.CRTSCTS)

    def close(self):
        os.close(self.slave)
        os.close(self.master)


def click(layout, window, caption):
    xdotool("mousemove", "--sync", *key_centres(layout, window)[caption])
    xdotool("click", 1)
    time.sleep(0.5)


def zoom_frames(layout, window, line, keypad=None):
    """Z/I clicked: its frame and a stop, and nothing else."""
    click(layout, window, "Z/I")
    got = line.read(1.0)
    return [] if got == OSKA["Up"] + OSKA_STOP else ["the line carried %r" % got]


def crtscts_cleared(layout, window, line, keypad):
    return (["the line kept crtscts after the open"] if line.crtscts() else []) + \
        zoom_frames(layout, window, line)


def serial_ports_dialog(layout, window, line, keypad):
    """F2: the first start mapped COM7, which Wine's device map lists, into a row whose own
    port is absent; COM1's list offers, after its own port, the device map's other ports in
    number order, and picking COM7 there writes COM1=COM7, which COMMUNICATION SET opens."""
    problems = []
    listed = sorted((int(word[3:]) for word in
                     wine("reg", "query", r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM").stdout.split()
                     if word.startswith("COM")))
    mapped = wine("reg", "query", PORTS).stdout
    if "REG_SZ    COM7" not in mapped:
        problems.append("the first start mapped %r" % mapped.strip())
    xdotool("key", "F2")
    time.sleep(2.0)
    dialog = xdotool("search", "--name", "^Serial ports$").split()
    if not dialog:
        return problems + ["F2 opened no Serial ports dialog"]
    xdotool("windowfocus", "--sync", dialog[0])
    # The device table has the focus; Tab takes it to COM1's entry, and each Down to the
    # next row of its list.
    downs = [n for n in listed if n != 1].index(7) + 1
    for keys in ["Tab"] + ["Down"] * downs + ["Return"]:
        xdotool("key", keys)
        time.sleep(0.4)
    # The dialog stores the rows as it closes; a busy Wine may take a while to get there.
    deadline = time.monotonic() + BOUND_SECONDS
    stored = wine("reg", "query", PORTS).stdout
    while "COM1    REG_SZ    COM7" not in stored and time.monotonic() < deadline:
        time.sleep(0.25)
        stored = wine("reg", "query", PORTS).stdout
    if "COM1    REG_SZ    COM7" not in stored:
        problems.append("the dialog did not store COM1=COM7: %r" % stored.strip())
    else:
        print("Wine, F2: COM1=COM7 stored %.1f s after Return"
              % (time.monotonic() - deadline + BOUND_SECONDS))
    click(layout, window, "COMMUNICATION SET")
    line.read(0.5)
    line.events.clear()
    return problems + zoom_frames(layout, window, line)


def held_key_ended_by(command):
    def way_out(layout, window, line, keypad):
        xdotool("keydown", "Up")
        line.read(1.5)
        ended = time.monotonic()
        subprocess.run(command, capture_output=True)
        line.read(3.0)
        xdotool("keyup", "Up")
        try:
            keypad.wait(timeout=BOUND_SECONDS)
        except subprocess.TimeoutExpired:
            return ["the program did not end"]
        return judge_end(line.events, ended, "taskkill", "arrow", 0)
    return way_out


# (case, Ports entries, crtscts left on the line, what is done and must be seen)
DESK = [
    ("COM1 mapped to COM7", {"COM1": "COM7"}, False, zoom_frames),
    ("COM7 left with crtscts", {"COM1": "COM7"}, True, crtscts_cleared),
    ("F2 offers Wine's COM7", None, False, serial_ports_dialog),
    ("taskkill, a key held", {"COM1": "COM7"}, False,
     held_key_ended_by(["wine", "taskkill", "/IM", "velmor.exe"])),
    ("wineboot -e, a key held", {"COM1": "COM7"}, False, held_key_ended_by(["wineboot", "-e"])),
]


def desk_case(exe, layout, line_path, case):
    name, ports, crtscts, check = case
    reg_set({key: ("REG_DWORD", value) for key, value in
             {"COMUINIT": 1, "COMPORT": 1, "BAUDRATE": 9600, "PROTOCOL": 0}.items()})
    for port, target in (ports or {}).items():
        wine("reg", "add", PORTS, "/v", port, "/d", target, "/f")
    line = Line(line_path, crtscts)
    keypad = starter(exe)()
    try:
        window = find_keypad(BOUND_SECONDS)
        if window is None:
            return ["the keypad window did not appear"]
        xdotool("windowfocus", "--sync", window)
        time.sleep(0.5)
        line.read(0.5)
        line.events.clear()
        return check(layout, window, line, keypad)
    finally:
        if keypad.poll() is None:
            subprocess.run(["wine", "taskkill", "/IM", "velmor.exe"], capture_output=True)
            try:
                keypad.wait(timeout=BOUND_SECONDS)
            except subprocess.TimeoutExpired:
                keypad.kill()
                keypad.wait()
        line.close()


REMOTE = r"HKCU\Software\PC-ZORVIK\velmor\Remote"
# Z/I on camera 12 and its stop, OSKA-DEFAULT.
REMOTE_FRAMES = b"*0C750100CA" + b"*0C750900D2"


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def remote_case(exe, line_path):
    """The remote keypad from the Linux side: the service on in the registry with a client
    whose salted hash is written there, curl holds Z/I on camera 12 over loopback and lets
    go, then a down that is never released stops when its lease ends; the frames are read
    off Wine's COM7."""
    reg_set({key: ("REG_DWORD", value) for key, value in
             {"COMUINIT": 1, "COMPORT": 1, "BAUDRATE": 9600, "PROTOCOL": 0}.items()})
    wine("reg", "add", PORTS, "/v", "COM1", "/d", "COM7", "/f")
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    token, salt = "desk-2." + b64url(os.urandom(32)), os.urandom(16)
    client_key = hmac.new(token.encode(), salt, hashlib.sha256).digest()
    wine("reg", "delete", REMOTE, "/f")
    wine("reg", "add", REMOTE, "/v", "Enabled", "/t", "REG_DWORD", "/d", "1", "/f")
    wine("reg", "add", REMOTE, "/v", "Address", "/d", "127.0.0.1:%d" % port, "/f")
    wine("reg", "add", REMOTE, "/v", "Client.desk-2", "/d",
         b64url(salt) + ":" + b64url(hashlib.sha256(client_key).digest()), "/f")
    line = Line(line_path)
    keypad = starter(exe)()

    def curl(action, body=None):
        command = ["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "-X", "POST",
                   "-H", "Authorization: Bearer " + token,
                   "http://127.0.0.1:%d/api/v1/keys/ZI/%s" % (port, action)]
        if body:
            command += ["-d", body]
        return subprocess.run(command, capture_output=True, text=True).stdout

    try:
        if find_keypad(BOUND_SECONDS) is None:
            return ["the keypad window did not appear"]
        until = time.monotonic() + BOUND_SECONDS
        while time.monotonic() < until:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
                break
            except OSError:
                time.sleep(0.2)
        else:
            return ["the service never listened on 127.0.0.1:%d" % port]
        line.read(0.5)
        line.events.clear()
        problems = []
        statuses = [curl("down", '{"camera": 12, "lease_ms": 5000}')]
        line.read(0.3)
        statuses.append(curl("up"))
        got = line.read(1.0)
        if statuses != ["200", "200"] or got != REMOTE_FRAMES:
            problems.append("down and up: %s, the line carried %r" % (statuses, got))
        line.events.clear()
        status = curl("down", '{"camera": 12, "lease_ms": 300}')
        got = line.read(2.0)
        if status != "200" or got != REMOTE_FRAMES:
            problems.append("a lapse: %s, the line carried %r" % (status, got))
        return problems
    finally:
        if keypad.poll() is None:
            subprocess.run(["wine", "taskkill", "/IM", "velmor.exe"], capture_output=True)
            try:
                keypad.wait(timeout=BOUND_SECONDS)
            except subprocess.TimeoutExpired:
                keypad.kill()
                keypad.wait()
        wine("reg", "delete", REMOTE, "/f")
        line.close()


def tcp_case(exe, vcam, layout):
    """The PELCO D case with COM1 a raw TCP entry in the registry's port mapping, the
    analyser the serial server at its end."""
    name, protocol, camera_type, baud, expected = CASES[1]
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    reg_set({key: ("REG_DWORD", value) for key, value in {
        "COMUINIT": 1, "COMPORT": 1, "BAUDRATE": baud, "PROTOCOL": protocol,
        "CAMTYPE": camera_type}.items()})
    wine("reg", "add", PORTS, "/v", "COM1", "/d", "tcp://127.0.0.1:%d" % port, "/f")
    failed = report("Wine, raw TCP, " + name, *run_case(
        starter(exe), vcam, layout, protocol, camera_type, baud, expected,
        bound_seconds=BOUND_SECONDS, tcp_port=port))
    wine("reg", "delete", PORTS, "/f")
    return failed


def taskkill_knows_tree():
    """Whether this Wine's taskkill takes /T (Wine 8's answers it with its usage)."""
    probe = subprocess.run(["wine", "taskkill", "/F", "/T", "/PID", "999999"],
                           capture_output=True, text=True)
    return "invalid command line option" not in (probe.stdout + probe.stderr).lower()


def forced_kill_case(exe, line_path, protocol, scheme=None, tree=False):
    """Up held, then taskkill /F on velmor.exe alone: its guardian is another program. With
    a scheme, COM1 is a serial server (ser2net) in front of the line. With tree, the kill
    takes velmor.exe's whole process tree (/T, as Task Manager's "End process tree"): the
    guardian, started by a launcher that has ended, is in no tree of velmor.exe's."""
    reg_set({"COMUINIT": ("REG_DWORD", 1), "COMPORT": ("REG_DWORD", 1),
             "BAUDRATE": ("REG_DWORD", 2400 if protocol else 9600),
             "PROTOCOL": ("REG_DWORD", protocol), "CAMTYPE": ("REG_DWORD", 0)})
    line = Line(line_path)
    server = None
    if scheme:
        server, entry = start_ser2net(os.ttyname(line.slave), scheme, tempfile.mkdtemp())
        wine("reg", "add", PORTS, "/v", "COM1", "/d", entry, "/f")
    keypad = starter(exe)()
    try:
        window = find_keypad(BOUND_SECONDS)
        if window is None:
            return ["the keypad window did not appear"]
        xdotool("windowfocus", "--sync", window)
        time.sleep(0.5)
        xdotool("keydown", "Up")
        line.read(1.5)
        # Under Wine the Unix process behind velmor.exe may linger after Windows has ended it
        # (and the guardian, woken by that, has sent the stop): the stop may come before the
        # Unix process is gone, never before the kill.
        killed = time.monotonic()
        killer = subprocess.Popen(["wine", "taskkill", "/F"] + (["/T"] if tree else []) +
                                  ["/IM", "velmor.exe"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Read on until the Unix process is gone; its end is printed beside the stop.
        while keypad.poll() is None and len(line.events) < 10000:
            line.read(0.002)
        ended = time.monotonic()
        line.read(2.0)
        killer.wait()
        xdotool("keyup", "Up")
        events = line.events
        if not events:
            return ["nothing on the line"]
        problems = judge_end(events, killed, "taskkill /F", "arrow", protocol)
        if not problems:
            stop = 7 if protocol else 11
            print("Wine, taskkill /F%s, protocol %d%s: stop %.0f..%.0f ms after taskkill "
                  "started (Wine's process behind velmor.exe gone %.0f ms after it)"
                  % (" /T" if tree else "", protocol, " over " + scheme if scheme else "",
                     (events[-stop][0] - killed) * 1000, (events[-1][0] - killed) * 1000,
                     (ended - killed) * 1000))
        return problems
    finally:
        keypad.wait(timeout=30)
        if server:
            wine("reg", "delete", PORTS, "/f")
            server.terminate()
            server.wait()
        line.close()


def zip_start(zip_path, layout, line_path):
    """The zip unpacked and started in a prefix of its own where nothing was installed."""
    work = tempfile.mkdtemp()
    prefix = os.path.join(work, "prefix")
    env = dict(os.environ, WINEPREFIX=prefix)
    run = lambda *args: subprocess.run(args, env=env, capture_output=True)  # noqa: E731
    run("wineboot", "-i")
    run("wine", "reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/d", line_path, "/f")
    run("wineserver", "-k")
    zipfile.ZipFile(zip_path).extractall(work)
    exe = [os.path.join(d, "velmor.exe") for d, _, files in os.walk(work)
           if "velmor.exe" in files and "prefix" not in d][0]
    line = Line(line_path)
    keypad = subprocess.Popen(["wine", exe], env=env, stderr=subprocess.DEVNULL)
    try:
        window = find_keypad(BOUND_SECONDS)
        if window is None:
            return ["the unpacked velmor.exe showed no window"]
        xdotool("windowfocus", "--sync", window)
        time.sleep(0.5)
        line.read(0.5)
        line.events.clear()
        return zoom_frames(layout, window, line)
    finally:
        run("wine", "taskkill", "/IM", "velmor.exe")
        try:
            keypad.wait(timeout=BOUND_SECONDS)
        except subprocess.TimeoutExpired:
            keypad.kill()
        run("wineserver", "-k")
        line.close()
        shutil.rmtree(work, ignore_errors=True)


def main():
    exe, vcam, helper = sys.argv[1:4]
    zip_path = sys.argv[4] if len(sys.argv) > 4 else None
    # The helper lays the window out in the host's Qt and fonts. Scaled to the window's size
    # under Wine it is near enough to click on while Wine's fonts are near the host's.
    layout = keypad_layout(helper)
    line = os.path.join(tempfile.mkdtemp(), "line")
    # Wine maps its COM ports when it starts: the mapping is set, then Wine restarted.
    desk_line = os.path.join(os.path.dirname(line), "com7")
    wine("reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/d", line, "/f")
    wine("reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM7", "/d", desk_line, "/f")
    subprocess.run(["wineserver", "-k"])
    failed = 0
    for index, (name, protocol, camera_type, baud, expected) in enumerate(CASES):
        settings = {"COMUINIT": 1, "COMPORT": 1, "BAUDRATE": baud, "PROTOCOL": protocol,
                    "CAMTYPE": camera_type}
        reg_set({key: ("REG_DWORD", value) for key, value in settings.items()})
        store = about_and_store(layout, settings) if index == len(CASES) - 1 else None
        then = (lambda window, store=store:  # noqa: E731
                combo_text_shown(layout, window) + (store(window) if store else []))
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
    desk = [(case[0], lambda case=case: desk_case(exe, layout, desk_line, case))
            for case in DESK]
    desk += [("taskkill /F, protocol %d" % protocol,
              lambda protocol=protocol: forced_kill_case(exe, line, protocol))
             for protocol in (0, 1)]
    desk.append(("the remote keypad driven by curl over loopback",
                 lambda: remote_case(exe, desk_line)))
    desk.append(("taskkill /F over rfc2217, protocol 1",
                 lambda: forced_kill_case(exe, line, 1, "rfc2217")))
    if taskkill_knows_tree():
        desk += [("taskkill /F /T, protocol %d" % protocol,
                  lambda protocol=protocol: forced_kill_case(exe, line, protocol, tree=True))
                 for protocol in (0, 1)]
    else:
        print("Wine, taskkill /F /T: not run, this Wine's taskkill has no /T")
    if zip_path:
        desk.append(("the zip started where it was never installed",
                     lambda: zip_start(zip_path, layout, desk_line)))
    for name, run in desk:
        problems = run()
        for problem in problems:
            print("FAIL Wine, %s: %s" % (name, problem))
        if not problems:
            print("Wine, %s: as it should on the line" % name)
        failed += bool(problems)
    # Wine's programs of this run belong to this X server, which ends with the test.
    subprocess.run(["wineserver", "-k"])
    total = len(CASES) + 1 + len(HOSTILE) + len(desk)
    print("%d passed, %d failed" % (total - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Breaks the keypad's line under the real program while a camera moves, then brings it back.

Each case starts the program under its own Xvfb, holds the Up arrow, and breaks the line
under it: a pseudo-terminal whose far end goes away (an adapter unplugged), after which a
new one appears under the same stable name (a /dev/serial/by-id/ style link); or a serial
server on loopback that closes the connection, or resets it, and listens again at the same
address. The key is released while the line is down. With no key pressed, the first bytes
on the line that is back must be the stop owed to the camera, whole, within a few seconds;
then, once the "Transfer Error!" box is dismissed, a held key must work on the new line.
Where no key is held, the drop must be noticed and said all the same, the line that is back
must carry nothing before a key, and no box may appear.
Prints, per fault, the bytes on the new line, the time from the line's return to the stop's
last byte, and what the program said.

Usage: x11_line_faults.py PATH_TO_VELMOR KEYPAD_LAYOUT [--load] [WORD]
(--load: two busy processes on the cores throughout; WORD: only the cases naming it)
"""
import os
import pty
import select
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11_end_of_run import start_xvfb  # noqa: E402
from x11_hold_arrow_key import (OSKA, OSKA_STOP, PELCO, PELCO_STOP, busy_cores,  # noqa: E402
                                find_window, read_line, xdotool)

CASES = [
    # fault, protocol, the server's scheme
    ("adapter unplugged", 0, None),
    ("adapter unplugged", 1, None),
    ("server closes", 0, "tcp"),
    ("server closes", 1, "rfc2217"),
    ("server resets", 1, "tcp"),
    ("server resets", 0, "rfc2217"),
    # No key held: the drop is noticed without a frame, said, and healed; nothing is owed.
    ("adapter unplugged, no key held", 1, None),
    ("server closes, no key held", 0, "tcp"),
]
# The owed stop must be whole on the new line within this long of its return.
BACK_WITHIN_S = 4.0
IAC, SB, SE = 0xFF, 0xFA, 0xF0
WILL, WONT, DO, DONT = 0xFB, 0xFC, 0xFD, 0xFE
BINARY, COM_PORT_OPTION = 0x00, 0x2C


def telnet_data(raw):
    """The data bytes of a Telnet stream: commands dropped, a doubled 0xFF made one."""
    data, i = [], 0
    while i < len(raw):
        if raw[i][1] != IAC:
            data.append(raw[i])
            i += 1
        elif i + 1 < len(raw) and raw[i + 1][1] == IAC:
            data.append(raw[i + 1])
            i += 2
        elif i + 1 < len(raw) and raw[i + 1][1] == SB:
            i += 2
            while i + 1 < len(raw) and not (raw[i][1] == IAC and raw[i + 1][1] == SE):
                i += 1
            i += 2
        else:
            i += 3 if i + 1 < len(raw) and 0xFB <= raw[i + 1][1] <= 0xFE else 2
    return data


class TelnetAnswers:
    """The server's side of an RFC 2217 conversation: agrees to binary mode and the
    COM-PORT-OPTION, refuses anything else, and confirms each port setting as asked."""

    def __init__(self):
        self.pending = b""

    def Feed(self, data):
        self.pending += data
        out, i, raw = b"", 0, self.pending
        while i < len(raw):
            if raw[i] != IAC:
                i += 1
                continue
            if i + 1 >= len(raw):
                break
            verb = raw[i + 1]
            if verb in (WILL, WONT, DO, DONT):
                if i + 2 >= len(raw):
                    break
                option = raw[i + 2]
                agreed = option in (BINARY, COM_PORT_OPTION)
                if verb == WILL:
                    out += bytes([IAC, DO if agreed else DONT, option])
                elif verb == DO:
                    out += bytes([IAC, WILL if agreed else WONT, option])
                i += 3
            elif verb == SB:
                end = raw.find(bytes([IAC, SE]), i + 2)
                if end < 0:
                    break
                body = raw[i + 2:end]
                if len(body) >= 2 and body[0] == COM_PORT_OPTION:
                    out += bytes([IAC, SB, COM_PORT_OPTION, body[1] + 100]) + body[2:]
                    out += bytes([IAC, SE])
                i = end + 2
            else:
                i += 2
        self.pending = raw[i:]
        return out


class Server:
    """A serial server on loopback that keeps what each connection carried, with times; a
    Telnet one answers the conversation as a serial server does."""

    def __init__(self, telnet=False):
        self.telnet = telnet
        self.answers = TelnetAnswers  # what answers each new connection, when telnet
        self.port = None
        self.connections = []
        self.listener = None
        self.Listen()

    def Listen(self):
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", self.port or 0))
        self.port = self.listener.getsockname()[1]
        self.listener.listen(1)
        self.back = time.monotonic()
        threading.Thread(target=self.Serve, args=(self.listener,), daemon=True).start()

    def Serve(self, listener):
        try:
            conn, _ = listener.accept()
        except OSError:
            return
        events = []
        self.connections.append((conn, events))
        answers = self.answers() if self.telnet else None
        while True:
            try:
                data = conn.recv(4096)
            except OSError:
                return
            if not data:
                return
            now = time.monotonic()
            events.extend((now, b) for b in data)
            if answers:
                reply = answers.Feed(data)
                if reply:
                    try:
                        conn.sendall(reply)
                    except OSError:
                        return

    def Break(self, reset):
        """Goes away with the connection: closes it, or resets it."""
        self.listener.close()
        conn, _ = self.connections[-1]
        if reset:
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\0\0\0\0\0\0\0")
        else:
            conn.shutdown(socket.SHUT_RDWR)
        conn.close()

    def Close(self):
        self.listener.close()
        for conn, _ in self.connections:
            conn.close()


class PtyLine:
    """A pseudo-terminal reached through a stable link that outlives it."""

    def __init__(self, folder):
        self.link = os.path.join(folder, "usb-Velmor_Cam_Line-if00-port0")
        self.events, self.master, self.slave = [], None, None
        self.Plug()

    def Plug(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.master)
        temporary = self.link + ".new"
        os.symlink(os.ttyname(self.slave), temporary)
        os.rename(temporary, self.link)
        self.back = time.monotonic()
        self.events = []

    def Unplug(self):
        os.close(self.master)
        os.close(self.slave)
        self.master = None

    def Read(self, until):
        if self.master is not None:
            read_line(self.master, until, self.events)
        else:
            time.sleep(max(0, until - time.monotonic()))

    def Close(self):
        if self.master is not None:
            self.Unplug()


def run_case(program, fault, protocol, scheme):
    display_server, display = start_xvfb()
    folder = tempfile.mkdtemp()
    conf = os.path.join(folder, "PC-ZORVIK", "velmor.conf")
    os.makedirs(os.path.dirname(conf))
    line = PtyLine(folder) if scheme is None else Server(telnet=scheme == "rfc2217")
    entry = line.link if scheme is None else "%s://127.0.0.1:%d" % (scheme, line.port)
    with open(conf, "w") as out:
        out.write("[Ports]\nCOM1=%s\n[Settings]\nPROTOCOL=%d\n" % (entry, protocol))
    env = dict(os.environ, XDG_CONFIG_HOME=folder, DISPLAY=display)
    app = subprocess.Popen([program], env=env, stderr=subprocess.PIPE, text=True)
    stop, move = (PELCO_STOP, PELCO["Up"]) if protocol else (OSKA_STOP, OSKA["Up"])
    held = "no key held" not in fault
    problems, seen = [], {"held": held}
    try:
        wid = find_window(env)
        if wid is None:
            return ["the window did not appear"], seen
        xdotool(env, "windowfocus", "--sync", wid)
        time.sleep(1.0 if scheme else 0.3)  # a server's connection follows the window
        if held:
            xdotool(env, "keydown", "Up")
        Wait(line, scheme, 0.6)
        if scheme is None:
            line.Unplug()
        else:
            line.Break(fault == "server resets")
        Wait(line, scheme, 0.6)  # the repeats find the line gone
        if held:
            xdotool(env, "keyup", "Up")
        Wait(line, scheme, 1.0)
        if scheme is None:
            line.Plug()
        else:
            line.Listen()
        back = line.back
        Wait(line, scheme, BACK_WITHIN_S + 1.0)
        owed = NewLine(line, scheme)
        seen["owed"] = owed
        seen["back"] = back
        boxes = xdotool(env, "search", "--onlyvisible", "--name", "^velmor$").stdout.split()
        seen["boxes"] = len(boxes)
        for box in boxes:
            xdotool(env, "windowactivate", "--sync", box)
            xdotool(env, "key", "Return")
        time.sleep(0.3)
        xdotool(env, "windowactivate", "--sync", wid)
        xdotool(env, "keydown", "Up")
        Wait(line, scheme, 0.5)
        xdotool(env, "keyup", "Up")
        Wait(line, scheme, 0.6)
        seen["after"] = NewLine(line, scheme)[len(owed):]
    finally:
        if app.poll() is None:
            app.terminate()
        try:
            app.wait(timeout=10)
        except subprocess.TimeoutExpired:
            app.kill()
            app.wait()
        seen["said"] = app.stderr.read().strip().splitlines()
        line.Close()
        display_server.kill()
        display_server.wait()
    return problems + Judge(seen, stop, move), seen


def Wait(line, scheme, seconds):
    until = time.monotonic() + seconds
    if scheme is None:
        line.Read(until)
    else:
        time.sleep(seconds)


def NewLine(line, scheme):
    """(time, byte) of what the line that is back carried, Telnet commands dropped."""
    if scheme is None:
        return list(line.events)
    if len(line.connections) < 2:
        return []
    events = list(line.connections[-1][1])
    return telnet_data(events) if scheme == "rfc2217" else events


def Judge(seen, stop, move):
    owed = seen.get("owed", [])
    raw = bytes(b for _, b in owed)
    if not seen["held"]:
        said = " ".join(seen.get("said", []))
        problems = [] if "dropped" in said and "open again" in said else [
            "the drop and the return were not said: %r" % said]
        if raw:
            problems.append("the new line carried %r before any key" % raw)
        if seen.get("boxes"):
            problems.append("%d box(es) with no key pressed" % seen["boxes"])
        if bytes(b for _, b in seen.get("after", [])) != move + stop:
            problems.append("the key did not work on the new line: %r" % seen.get("after"))
        return problems
    if raw != stop:
        return ["the new line carried %r before any key, not the stop alone" % raw]
    last = owed[len(stop) - 1][0] - seen["back"]
    seen["stop_ms"] = last * 1000
    if last > BACK_WITHIN_S:
        return ["the stop came %.1f s after the line was back" % last]
    problems = []
    rest = raw[len(stop):] + bytes(b for _, b in seen.get("after", []))
    frames = [rest[i:i + len(stop)] for i in range(0, len(rest), len(stop))]
    if len(rest) % len(stop) or [f for f in frames if f not in (stop, move)]:
        problems.append("not whole frames after the stop: %r" % rest)
    if move not in frames or frames[-1] != stop:
        problems.append("the key did not work on the new line: %r" % frames)
    return problems


def main():
    args = [a for a in sys.argv[1:] if a != "--load"]
    program, word = args[0], (args[2] if len(args) > 2 else None)
    hogs = busy_cores() if "--load" in sys.argv else []
    failed = 0
    try:
        cases = [c for c in CASES if word is None or word in "%s %s" % (c[0], c[2])]
        for fault, protocol, scheme in cases:
            name = "%s%s, %s" % (fault, " (%s)" % scheme if scheme else "",
                                 "PELCO D" if protocol else "OSKA-DEFAULT")
            problems, seen = run_case(program, fault, protocol, scheme)
            for problem in problems:
                print("FAIL %s: %s" % (name, problem))
            failed += bool(problems)
            owed = bytes(b for _, b in seen.get("owed", []))
            timing = ("stop's last byte %.0f ms after the line was back" % seen["stop_ms"]
                      if "stop_ms" in seen else "no stop owed")
            print("%s: new line %s; %s; %d box(es); said: %s"
                  % (name, owed.hex(" ") or "(nothing)", timing, seen.get("boxes", 0),
                     " | ".join(seen.get("said", []))))
    finally:
        for hog in hogs:
            hog.kill()
    print("%d passed, %d failed" % (len(cases) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

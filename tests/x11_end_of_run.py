#!/usr/bin/env python3
"""Ends the real keypad program in every way there is while a camera moves.

Each case starts the program under its own Xvfb on a fresh pseudo-terminal, starts a
movement (a held arrow key, or the mouse held down on Z/I) or none, then ends it: a
signal it handles, a crash (SIGSEGV, SIGABRT), a forced kill (SIGKILL, after which the
guardian sends the stop; also to the program's whole process group, which must not take
the guardian with it), or the X server killed. After one kill a second program is
started on the same line and must get the port. Some cases put a serial server (ser2net)
between the program and the line. Read byte by byte off the line, everything must be whole
frames of the protocol in force, and a movement must end with exactly one stop, last.
With no movement nothing may be sent. The line is read until the guardian has ended, which
it must within a bound however the program went. Prints the time from the end to the last
byte of the stop.

Usage: x11_end_of_run.py PATH_TO_VELMOR KEYPAD_LAYOUT [WORD]
(WORD: only the cases whose ending names it)
"""
import os
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11_hold_arrow_key import (COMMUNICATION_SET, OSKA, OSKA_STOP, PELCO,  # noqa: E402
                                PELCO_STOP, Window, find_window, keypad_layout, line_profile,
                                read_line, xdotool)

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
    ("SIGSEGV", "arrow", 0), ("SIGSEGV", "arrow", 1), ("SIGSEGV", "none", 0),
    ("SIGABRT", "arrow", 0), ("SIGABRT", "arrow", 1), ("SIGABRT", "mouse", 0),
    ("SIGKILL", "arrow", 0), ("SIGKILL", "arrow", 1), ("SIGKILL", "mouse", 0),
    ("SIGKILL", "none", 1),
    ("SIGKILL after COMMUNICATION SET", "arrow", 0),
    ("SIGKILL to the group", "arrow", 0), ("SIGKILL to the group", "arrow", 1),
    ("SIGKILL to the group over tcp", "arrow", 1),
    ("SIGKILL, then a second program", "arrow", 1),
    ("SIGKILL, standard error closed", "arrow", 1),
    # A serial server (ser2net) between the program and the line.
    ("SIGKILL over tcp", "arrow", 0), ("SIGKILL over rfc2217", "arrow", 1),
    ("SIGSEGV over rfc2217", "mouse", 1), ("SIGABRT over tcp", "arrow", 1),
    ("SIGTERM over rfc2217", "arrow", 1),
]
# Endings the program cannot answer for itself end it by the signal; the handled ones exit
# with 128 plus its number.
UNHANDLED = ("SIGSEGV", "SIGABRT", "SIGKILL")
# The longest the guardian may live on after the program, on a loaded machine: the stop, a
# bounded close, and the scheduler's delays.
GUARDIAN_BOUND = 10
# What a serial server may still hold of the guardian's last bytes once the guardian ended.
RELAY_SECONDS = 0.5
# Started with standard error closed, the program still writes to it: Qt's log of every
# window event, the key's own included, comes after the line is open. Those lines must go
# nowhere, and never to the guardian as messages.
STDERR_CLOSED_LOG = "qt.qpa.events=true"


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


def listening(port):
    with open("/proc/net/tcp") as table:
        return any(f[1] == "0100007F:%04X" % port and f[3] == "0A"
                   for f in (line.split() for line in table) if len(f) > 3)


def start_ser2net(device, scheme, folder):
    """ser2net on a free loopback port, its serial side the pty; the port's entry."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    accepter = ("telnet(rfc2217)," if scheme == "rfc2217" else "") + "tcp,127.0.0.1,%d" % port
    config = os.path.join(folder, "ser2net.yaml")
    with open(config, "w") as out:
        out.write("%%YAML 1.1\n---\nconnection: &line\n  accepter: %s\n"
                  "  connector: serialdev,%s,9600n81,local\n  options:\n    mdns: false\n"
                  % (accepter, device))
    server = subprocess.Popen(["ser2net", "-n", "-u", "-c", config, "-P",
                               os.path.join(folder, "ser2net.pid")],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 5
    while not listening(port) and time.monotonic() < deadline and server.poll() is None:
        time.sleep(0.01)
    return server, "%s://127.0.0.1:%d" % (scheme, port)


def guardian_of(pid):
    """The program's guardian: its child named velmor-guard, forked before any thread."""
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as children:
            for child in children.read().split():
                with open("/proc/%s/comm" % child) as comm:
                    if comm.read().strip() == "velmor-guard":
                        return int(child)
    except OSError:
        pass
    return None


def alive(pid):
    """Whether pid runs (a zombie has ended)."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def run_case(program, helper, how, moving, protocol):
    server, display = start_xvfb()
    master, slave, profile, conf_path = line_profile(PROTOCOL=protocol)
    serial_server = None
    if " over " in how:
        serial_server, entry = start_ser2net(os.ttyname(slave), how.split()[-1], profile)
        with open(conf_path) as conf:
            text = conf.read().replace(os.ttyname(slave), entry)
        with open(conf_path, "w") as conf:
            conf.write(text)
    env = dict(os.environ, XDG_CONFIG_HOME=profile, DISPLAY=display)
    closed = "standard error closed" in how
    if closed:
        env["QT_LOGGING_RULES"] = STDERR_CLOSED_LOG
    # A session of its own, as a shell's job or a supervisor's child has a group of its own.
    app = subprocess.Popen([program], env=env, text=True, start_new_session=True,
                           stderr=None if closed else subprocess.PIPE,
                           preexec_fn=(lambda: os.close(2)) if closed else None)
    events, problems = [], []
    try:
        wid = find_window(env)
        if wid is None:
            return ["the window did not appear"], None
        guardian = guardian_of(app.pid)
        if guardian is None:
            return ["no guardian beside the program"], None
        if os.getpgid(guardian) == app.pid:
            problems.append("the guardian is in the program's process group")
        xdotool(env, "windowfocus", "--sync", wid)
        time.sleep(0.3)
        window = Window(env, wid, keypad_layout(helper, env))
        if "COMMUNICATION SET" in how:
            window.click(COMMUNICATION_SET)
            time.sleep(0.3)
            xdotool(env, "windowfocus", "--sync", wid)
        if moving == "arrow":
            xdotool(env, "keydown", "Up")
        elif moving == "mouse":
            window.move_to(ZOOM_IN)
            xdotool(env, "mousedown", "1")
        read_line(master, time.monotonic() + 1.5, events)
        ended = time.monotonic()
        if how == "X server killed":
            server.kill()
        elif "group" in how:
            os.killpg(app.pid, signal.SIGKILL)
        else:
            app.send_signal(getattr(signal, how.split()[0].rstrip(",")))
            if how.endswith("twice"):
                time.sleep(0.005)
                app.send_signal(signal.SIGTERM)
        bound = time.monotonic() + 10
        while app.poll() is None and time.monotonic() < bound:
            read_line(master, time.monotonic() + 0.05, events)
        if app.poll() is None:
            problems.append("the program did not end")
            app.kill()
        status = app.wait()
        # However the program went, the guardian ends once its work is done: the line is
        # read until then, and a little longer for what a serial server relays.
        bound = time.monotonic() + GUARDIAN_BOUND
        while alive(guardian) and time.monotonic() < bound:
            read_line(master, time.monotonic() + 0.05, events)
        if alive(guardian):
            problems.append("the guardian outlived the program by %d s" % GUARDIAN_BOUND)
        read_line(master, time.monotonic() + RELAY_SECONDS, events)
        said = [] if closed else app.stderr.read().strip().splitlines()
        name = how.split()[0].rstrip(",")
        number = getattr(signal, name, 0)
        if how.startswith("SIG") and status != (-number if name in UNHANDLED else 128 + number):
            problems.append("exit status %d" % status)
        if moving != "none" and not closed and not (said and "stop" in said[-1]):
            problems.append("standard error says %r" % said[-1:])
        if moving == "none" and name != "SIGKILL" and not said:
            problems.append("nothing said on standard error")
        if "second" in how:
            problems += second_program(program, env, master, protocol)
    finally:
        if app.poll() is None:
            app.kill()
            app.wait()
        server.kill()
        server.wait()
        if serial_server:
            serial_server.terminate()
            serial_server.wait()
        os.close(slave)
        os.close(master)
    return problems + judge(events, ended, how, moving, protocol), (events, ended, said or [""])


def second_program(program, env, master, protocol):
    """A program started once the killed one's stop is out gets the port: its Up frames
    and its stop reach the line."""
    events = []
    app = subprocess.Popen([program], env=env, stderr=subprocess.PIPE, text=True)
    try:
        wid = find_window(env)
        if wid is None:
            return ["the second window did not appear"]
        xdotool(env, "windowfocus", "--sync", wid)
        time.sleep(0.3)
        xdotool(env, "keydown", "Up")
        read_line(master, time.monotonic() + 0.5, events)
        xdotool(env, "keyup", "Up")
        read_line(master, time.monotonic() + 0.3, events)
    finally:
        app.terminate()
        app.wait()
    said = app.stderr.read().strip()
    raw = bytes(b for _, b in events)
    move, stop = (PELCO if protocol else OSKA)["Up"], PELCO_STOP if protocol else OSKA_STOP
    if not raw.startswith(move) or not raw.endswith(stop):
        return ["the second program did not get the port: line %r, it said %r" % (raw, said)]
    return []


def one_byte_twice(frame, sent):
    """Whether sent is frame with one of its bytes sent twice in a row."""
    return any(frame[:i + 1] + frame[i:] == sent for i in range(len(frame)))


def judge(events, ended, how, moving, protocol):
    stop = PELCO_STOP if protocol else OSKA_STOP
    movement = ZOOM_IN_FRAME[protocol] if moving == "mouse" else (PELCO if protocol else OSKA)["Up"]
    raw = bytes(b for _, b in events)
    length = len(stop)
    if moving == "none":
        return ["sent %r with nothing moving" % raw] if raw else []
    problems = []
    # A forced kill can land after a byte's write and before the program has noted it: the
    # guardian cannot know whether that byte went and, on a local line, sends it again. Seen
    # so, the frame in flight carries that one byte twice, just before the whole stop, which
    # a camera finds by its start byte. Once at most, and only where the kill is a forced one
    # (SIGKILL, and taskkill /F under Wine) on a local line.
    forced = how.startswith("SIGKILL") or how.startswith("taskkill /F")
    if forced and " over " not in how and len(raw) % length == 1:
        flight = raw[-2 * length - 1:-length]
        if one_byte_twice(movement, flight):
            print("  (%s: the byte in hand at the kill went twice: %s)" % (how, flight.hex(" ")))
            raw = raw[:-2 * length - 1] + movement + stop
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
    cases = [c for c in CASES if len(sys.argv) < 4 or sys.argv[3] in c[0]]
    failed = 0
    for case in cases:
        problems, seen = run_case(program, helper, *case)
        for problem in problems:
            print("FAIL %r: %s" % (case, problem))
        failed += bool(problems)
        if not problems and case[1] != "none":
            events, ended, said = seen
            stop_bytes = len(OSKA_STOP if case[2] == 0 else PELCO_STOP)
            first, last = events[-stop_bytes][0], events[-1][0]
            after = bytes(b for t, b in events if t >= ended)
            print("%-16s %-5s protocol %d: %d bytes after the end (%s), stop %.0f..%.0f ms "
                  "after it; %s" % (case[0], case[1], case[2], len(after), after.hex(" "),
                                    (first - ended) * 1000, (last - ended) * 1000, said[-1]))
        elif not problems:
            print("%-16s none  protocol %d: nothing sent; %s" % (case[0], case[2], seen[2][-1]))
    print("%d passed, %d failed" % (len(cases) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

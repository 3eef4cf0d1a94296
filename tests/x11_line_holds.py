#!/usr/bin/env python3
"""Holds the keypad's line under the real program while a stop is owed, then lets it go.

Each case starts the program under its own Xvfb on an RFC 2217 server on loopback, holds
the Up arrow and releases it while the line cannot carry the stop:
- "suspend, then resume": the server sends FLOWCONTROL-SUSPEND after the first movement frame
  and the key is released; nothing may come while it holds, and the whole stop, alone, must
  come within RESUME_WITHIN_S of its FLOWCONTROL-RESUME. Dismissing the "Transfer Error!" box
  sends nothing more.
- "suspend, then SIGTERM": the program ends while the server holds; it must say that it left
  the stop to the guardian, and the guardian must deliver it whole (the server holds data for
  its port, it still reads the socket).
- "heal onto a suspended server": the server closes with the key held and, back, suspends as
  soon as it has answered the conversation; the stop must be the first data, after the RESUME.
- "COMMUNICATION SET while an attempt waits": the server closes; what listens next takes the
  connection and never answers, and COMMUNICATION SET is clicked while an attempt waits on it.
  The window must answer the window manager's pings (_NET_WM_PING, every 20 ms) within
  LIVE_WITHIN_MS throughout, and once a normal server is back the reopen must carry the stop
  first.
Prints, per case, the data each connection carried, the timings and what the program said.

Usage: x11_line_holds.py PATH_TO_VELMOR KEYPAD_LAYOUT [--load] [WORD]
(--load: two busy processes on the cores throughout; WORD: only the cases naming it)
"""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

from Xlib import X, display
from Xlib.protocol.event import ClientMessage

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11_end_of_run import alive, guardian_of, start_xvfb  # noqa: E402
from x11_hold_arrow_key import (COMMUNICATION_SET, OSKA, OSKA_STOP, PELCO,  # noqa: E402
                                PELCO_STOP, Window, busy_cores, find_window, keypad_layout,
                                xdotool)
from x11_line_faults import (COM_PORT_OPTION, IAC, SB, SE, Server, TelnetAnswers,  # noqa: E402
                             telnet_data)

CASES = [
    # case, protocol, whether two busy processes load the cores
    ("suspend, then resume", 0, False),
    ("suspend, then resume", 1, False),
    ("suspend, then SIGTERM", 0, False),
    ("suspend, then SIGTERM", 1, False),
    ("heal onto a suspended server", 0, False),
    ("heal onto a suspended server", 1, False),
    ("heal onto a suspended server", 0, True),
    ("heal onto a suspended server", 1, True),
    ("COMMUNICATION SET while an attempt waits", 0, False),
    ("COMMUNICATION SET while an attempt waits", 1, False),
]
SUSPEND = bytes([IAC, SB, COM_PORT_OPTION, 108, IAC, SE])
RESUME = bytes([IAC, SB, COM_PORT_OPTION, 109, IAC, SE])
RESUME_WITHIN_S = 0.5
LIVE_WITHIN_MS = 300
# How long after a SIGTERM the program and then its guardian (3 s of retries at most) may take.
END_WITHIN_S = 10


class SuspendingAnswers(TelnetAnswers):
    """Answers the conversation, and suspends the flow with its first confirmed setting."""

    suspended = False

    def Feed(self, data):
        out = TelnetAnswers.Feed(self, data)
        if bytes([IAC, SB, COM_PORT_OPTION]) in out and not self.suspended:
            self.suspended = True
            out += SUSPEND
        return out


class Pings:
    """_NET_WM_PING to the window every 20 ms from a connection of its own. Qt answers on its
    window's thread by sending the message to the root window for StructureNotify (or, in some
    versions, SubstructureNotify) and SubstructureRedirect; selecting the first two is enough
    to see it (SubstructureRedirect would make this the window manager)."""

    def __init__(self, name, wid):
        self.connection = display.Display(name)
        self.root = self.connection.screen().root
        self.root.change_attributes(event_mask=X.StructureNotifyMask | X.SubstructureNotifyMask)
        self.window = self.connection.create_resource_object("window", int(wid))
        self.protocols = self.connection.intern_atom("WM_PROTOCOLS")
        self.ping = self.connection.intern_atom("_NET_WM_PING")
        self.answers, self.running = [], True
        self.thread = threading.Thread(target=self.Run, daemon=True)
        self.thread.start()

    def Run(self):
        due = time.monotonic()
        while self.running:
            if time.monotonic() >= due:
                self.window.send_event(ClientMessage(
                    window=self.window, client_type=self.protocols,
                    data=(32, [self.ping, X.CurrentTime, self.window.id, 0, 0])))
                self.connection.flush()
                due += 0.02
            select.select([self.connection.fileno()], [], [], max(0, due - time.monotonic()))
            while self.connection.pending_events():
                event = self.connection.next_event()
                if (event.type == X.ClientMessage and event.window == self.root
                        and event.data[1][0] == self.ping):
                    self.answers.append(time.monotonic())

    def LongestSilenceMs(self, start, end):
        times = [start] + [t for t in self.answers if start < t < end] + [end]
        return max(b - a for a, b in zip(times, times[1:])) * 1000

    def Stop(self):
        self.running = False
        self.thread.join()
        self.connection.close()


def Data(server, first=0):
    """The data each connection from first on carried, Telnet commands dropped: (time, byte)."""
    return [telnet_data(list(events)) for _, events in server.connections[first:]]


def Raw(events):
    return bytes(b for _, b in events)


def WaitFor(check, seconds):
    until = time.monotonic() + seconds
    while not check() and time.monotonic() < until:
        time.sleep(0.005)
    return check()


def DismissBoxes(run):
    """Answers every box the program shows, one that follows another included, until none
    shows for a while; how many there were."""
    count, quiet = 0, time.monotonic() + 0.5
    while time.monotonic() < quiet:
        boxes = xdotool(run.env, "search", "--onlyvisible", "--name", "^velmor$").stdout.split()
        for box in boxes:
            xdotool(run.env, "windowactivate", "--sync", box)
            xdotool(run.env, "key", "Return")
            count, quiet = count + 1, time.monotonic() + 0.5
        time.sleep(0.05)
    return count


def SuspendOnRelease(run, seen):
    conn = run.server.connections[0][0]
    if not WaitFor(lambda: len(Raw(Data(run.server)[0])) >= len(run.move), 3):
        return ["no movement frame came"]
    conn.sendall(SUSPEND)
    time.sleep(0.15)
    xdotool(run.env, "keyup", "Up")
    time.sleep(1.0)
    held = Raw(Data(run.server)[0])
    problems = [] if held == run.move else ["the line carried %r while held" % held]
    if run.case.endswith("SIGTERM"):
        return problems + EndWhileHeld(run, seen)
    conn.sendall(RESUME)
    resumed = time.monotonic()
    time.sleep(RESUME_WITHIN_S + 1.0)
    problems += StopAfter(Data(run.server)[0][len(held):], resumed, run.stop, seen)
    seen["boxes"] = DismissBoxes(run)
    if seen["boxes"] > 1:
        problems.append("%d boxes for one refused stop" % seen["boxes"])
    time.sleep(0.6)
    if not problems and Raw(Data(run.server)[0]) != held + run.stop:
        problems.append("after the box, the line carried %r" % Raw(Data(run.server)[0]))
    return problems


def EndWhileHeld(run, seen):
    guardian = guardian_of(run.app.pid)
    if guardian is None:
        return ["no guardian beside the program"]
    ended = time.monotonic()
    run.app.send_signal(signal.SIGTERM)
    problems = []
    if not WaitFor(lambda: run.app.poll() is not None and not alive(guardian), END_WITHIN_S):
        problems.append("the program or its guardian did not end")
    after = [e for e in Data(run.server)[0] if e[0] >= ended]
    if Raw(after) != run.stop:
        problems.append("after SIGTERM the line carried %r" % Raw(after))
    else:
        seen["stop_ms"] = (after[-1][0] - ended) * 1000
    said = " ".join(run.Said())
    for words in ("did not go out", "the guardian holds the line", "the guardian sent the stop"):
        if words not in said:
            problems.append("standard error does not say %r" % words)
    return problems


def HealOntoSuspended(run, seen):
    DropWithKeyHeld(run)
    run.server.answers = SuspendingAnswers
    run.server.Listen()
    if not WaitFor(lambda: len(run.server.connections) > 1, 5):
        return ["the program did not connect again"]
    time.sleep(2.0)
    early = Raw(Data(run.server, 1)[0])
    run.server.connections[1][0].sendall(RESUME)
    resumed = time.monotonic()
    time.sleep(RESUME_WITHIN_S + 1.0)
    problems = ["the line carried %r before the RESUME" % early] if early else []
    return problems + StopAfter(Data(run.server, 1)[0], resumed, run.stop, seen)


def SetWhileAttemptWaits(run, seen):
    pings = Pings(run.display, run.wid)
    try:
        DropWithKeyHeld(run)
        seen["boxes"] = DismissBoxes(run)
        xdotool(run.env, "windowactivate", "--sync", run.wid)
        run.server.telnet = False  # takes the connection and never answers
        run.server.Listen()
        if not WaitFor(lambda: len(run.server.connections) > 1, 5):
            return ["the program did not connect again"]
        time.sleep(0.5)
        clicked = time.monotonic()
        run.window.click(COMMUNICATION_SET)
        run.server.listener.close()
        normal = len(run.server.connections)
        run.server.telnet = True
        run.server.Listen()
        time.sleep(3.0)
        seen["silent_ms"] = pings.LongestSilenceMs(clicked - 0.5, clicked + 3.0)
        seen["pings"] = len(pings.answers)
    finally:
        pings.Stop()
    with open(run.conf) as conf:
        problems = [] if "COMPORT" in conf.read() else ["COMMUNICATION SET stored nothing"]
    if seen["silent_ms"] >= LIVE_WITHIN_MS:
        problems.append("the window answered no ping for %.0f ms" % seen["silent_ms"])
    silent = Raw(Data(run.server, 1)[0])
    if silent:
        problems.append("the silent server was sent %r" % silent)
    reopened = Data(run.server, normal)
    if not reopened:
        return problems + ["COMMUNICATION SET did not open the line again"]
    if Raw(reopened[0]) != run.stop:
        return problems + ["COMMUNICATION SET's line carried %r, not the stop alone"
                           % Raw(reopened[0])]
    seen["reopen_ms"] = (run.server.connections[normal][1][0][0] - clicked) * 1000
    return problems


def DropWithKeyHeld(run):
    """The server goes away with Up held; Up is released while it is away."""
    time.sleep(0.6)
    run.server.Break(False)
    time.sleep(0.6)
    xdotool(run.env, "keyup", "Up")
    time.sleep(1.0)


def StopAfter(events, resumed, stop, seen):
    """events are the stop alone, its first byte after resumed and its last within bound."""
    if Raw(events) != stop:
        return ["after the RESUME the line carried %r, not the stop alone" % Raw(events)]
    seen["stop_ms"] = (events[-1][0] - resumed) * 1000
    if events[0][0] < resumed:
        return ["the stop began before the RESUME"]
    if seen["stop_ms"] > RESUME_WITHIN_S * 1000:
        return ["the stop came %.0f ms after the RESUME" % seen["stop_ms"]]
    return []


class Run:
    """The program under its own X server on a serial server of its own, Up held."""

    def __init__(self, program, helper, case, protocol):
        self.case = case
        self.xvfb, self.display = start_xvfb()
        self.folder = tempfile.mkdtemp()
        self.conf = os.path.join(self.folder, "PC-ZORVIK", "velmor.conf")
        os.makedirs(os.path.dirname(self.conf))
        self.server = Server(telnet=True)
        with open(self.conf, "w") as out:
            out.write("[Ports]\nCOM1=rfc2217://127.0.0.1:%d\n[Settings]\nPROTOCOL=%d\n"
                      % (self.server.port, protocol))
        self.env = dict(os.environ, XDG_CONFIG_HOME=self.folder, DISPLAY=self.display)
        self.app = subprocess.Popen([program], env=self.env, stderr=subprocess.PIPE, text=True)
        self.stop, self.move = (PELCO_STOP, PELCO["Up"]) if protocol else (OSKA_STOP, OSKA["Up"])
        self.helper, self.said = helper, None

    def Start(self):
        self.wid = find_window(self.env)
        if self.wid is None:
            return False
        self.window = Window(self.env, self.wid, keypad_layout(self.helper, self.env))
        xdotool(self.env, "windowfocus", "--sync", self.wid)
        time.sleep(1.0)  # the server's connection follows the window
        xdotool(self.env, "keydown", "Up")
        return True

    def Said(self):
        if self.said is None:
            self.said = self.app.stderr.read().strip().splitlines()
        return self.said

    def End(self):
        if self.app.poll() is None:
            self.app.terminate()
        try:
            self.app.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.app.kill()
            self.app.wait()
        self.Said()
        self.server.Close()
        self.xvfb.kill()
        self.xvfb.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


STEPS = {"suspend, then resume": SuspendOnRelease, "suspend, then SIGTERM": SuspendOnRelease,
         "heal onto a suspended server": HealOntoSuspended,
         "COMMUNICATION SET while an attempt waits": SetWhileAttemptWaits}


def run_case(program, helper, case, protocol):
    run, seen = Run(program, helper, case, protocol), {}
    try:
        problems = STEPS[case](run, seen) if run.Start() else ["the window did not appear"]
    finally:
        run.End()
    seen["said"] = run.said
    seen["connections"] = [Raw(d).hex(" ") or "-" for d in Data(run.server)]
    return problems, seen


def main():
    args = [a for a in sys.argv[1:] if a != "--load"]
    program, helper, word = args[0], args[1], (args[2] if len(args) > 2 else None)
    hogs = busy_cores() if "--load" in sys.argv else []
    cases = [c for c in CASES if word is None or word in c[0]]
    failed = 0
    try:
        for case, protocol, loaded in cases:
            name = "%s, %s%s" % (case, "PELCO D" if protocol else "OSKA-DEFAULT",
                                 ", loaded" if loaded else "")
            load = busy_cores() if loaded and not hogs else []
            try:
                problems, seen = run_case(program, helper, case, protocol)
            finally:
                for hog in load:
                    hog.kill()
                    hog.wait()
            for problem in problems:
                print("FAIL %s: %s" % (name, problem))
            failed += bool(problems)
            figures = ["stop's last byte %.0f ms after the %s" % (
                seen["stop_ms"], "SIGTERM" if "SIGTERM" in case else "RESUME")
                if "stop_ms" in seen else "no stop timed"]
            if "silent_ms" in seen:
                figures.append("longest time without a ping's answer %.0f ms (%d answers)"
                               % (seen["silent_ms"], seen["pings"]))
            if "reopen_ms" in seen:
                figures.append("reopened %.0f ms after the click" % seen["reopen_ms"])
            print("%s: connections %s; %s; %d box(es); said: %s"
                  % (name, " / ".join(seen["connections"]), "; ".join(figures),
                     seen.get("boxes", 0), " | ".join(seen["said"])))
    finally:
        for hog in hogs:
            hog.kill()
    print("%d passed, %d failed" % (len(cases) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Start-up time of the keypad window against a plain dialog, as the X server sees it.

Starts each program N times, in turn, on one X server, and times every run from just before
the exec to the moment the server maps the program's top-level window ("mapped"), and to
the first drawing into it ("painted"). The times come from a watcher on the root window:
it is told of every top-level window the server creates and maps (MapNotify) and, through
the DAMAGE extension, of the first pixels drawn into it. Nothing polls, so the watcher
adds no load to the server or the machine while a program starts, and an event reaches it
within a fraction of a millisecond; a window is taken as the program's by its _NET_WM_PID.

Every keypad run gets a fresh profile folder (XDG_CONFIG_HOME) whose COM1 is a new
pseudo-terminal, so the port opens as in real use; a run whose port did not open (the
program does not say "COM1 released" on its way out) fails the benchmark. The plain dialog
gets an empty profile folder. One warm-up run of each is not counted. The X server is an
Xvfb of the benchmark's own, on a free display, unless DISPLAY is set.

With --remote the keypad's profile turns the remote keypad service on, on a free loopback
port.

Usage: startup_bench.py VELMOR PLAIN_DIALOG [--runs N] [--each] [--remote]
The X library is Debian's python3-xlib, installed for the system's own interpreter.
"""
import argparse
import math
import os
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from x11_hold_arrow_key import line_profile  # noqa: E402

try:
    from Xlib import X, display as xdisplay
    from Xlib.ext import damage
except ImportError:
    sys.exit("startup_bench: needs the X library for Python (Debian: apt-get install python3-xlib)")

MAP_TIMEOUT = 20.0  # seconds; a loaded machine may be slow, but a run never takes this long
PAINT_TIMEOUT = 5.0


def start_xvfb():
    """An X server on a display number it picks itself as free; (process, display name)."""
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-noreset", "-nolisten",
                               "tcp", "-screen", "0", "1024x768x24"], pass_fds=(write,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    if not number.strip():
        server.kill()
        server.wait()
        sys.exit("startup_bench: Xvfb did not start")
    return server, ":" + number.decode().strip()


class Watcher:
    """Sees top-level windows appear on the root window, and their first pixels."""

    def __init__(self, name):
        self.display = xdisplay.Display(name)
        if not self.display.has_extension("DAMAGE"):
            sys.exit("startup_bench: the X server has no DAMAGE extension")
        self.display.damage_query_version()
        # A window gone before its damage object is made is no error worth a word.
        self.display.set_error_handler(lambda *args: None)
        self.root = self.display.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.pid_atom = self.display.intern_atom("_NET_WM_PID")
        self.damage_event = self.display.extension_event.DamageNotify
        self.display.sync()

    def events(self, deadline, app=None):
        """Yields (arrival time, event) until the deadline, or until app has ended."""
        while True:
            while self.display.pending_events():
                yield time.monotonic(), self.display.next_event()
            left = deadline - time.monotonic()
            if left <= 0 or (app is not None and app.poll() is not None):
                return
            select.select([self.display], [], [], min(left, 0.1))

    def pid_of(self, window):
        try:
            prop = window.get_full_property(self.pid_atom, X.AnyPropertyType)
        except Exception:
            return None
        return prop.value[0] if prop and len(prop.value) else None

    def time_window(self, app, started):
        """Milliseconds from start to the map and to the first drawing of app's window."""
        mapped = None
        for now, event in self.events(started + MAP_TIMEOUT, app):
            if event.type == X.CreateNotify and event.parent == self.root:
                event.window.damage_create(damage.DamageReportNonEmpty)
            elif (event.type == X.MapNotify and event.event == self.root and
                  not event.override and self.pid_of(event.window) == app.pid):
                mapped = now, event.window
                break
        if mapped is None:
            return None, None, None
        for now, event in self.events(mapped[0] + PAINT_TIMEOUT):
            if event.type == self.damage_event and event.drawable == mapped[1]:
                return (mapped[0] - started) * 1000, (now - started) * 1000, mapped[1]
        return (mapped[0] - started) * 1000, None, mapped[1]

    def wait_destroyed(self, window):
        for _, event in self.events(time.monotonic() + 5):
            if event.type == X.DestroyNotify and event.window == window:
                return


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_once(watcher, env, program, keypad, remote=False):
    """One start: (mapped ms, painted ms), or a reason it failed."""
    if keypad:
        master, slave, profile, conf = line_profile()
        if remote:
            with open(conf, "a") as f:
                f.write("[Remote]\nEnabled=1\nAddress=127.0.0.1:%d\n" % free_port())
    else:
        master = slave = None
        profile = tempfile.mkdtemp()
    try:
        run_env = dict(env, XDG_CONFIG_HOME=profile)
        started = time.monotonic()
        app = subprocess.Popen([program], env=run_env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True)
        mapped, painted, window = watcher.time_window(app, started)
        app.send_signal(signal.SIGTERM)
        try:
            said = app.communicate(timeout=10)[1]
        except subprocess.TimeoutExpired:
            app.kill()
            said = app.communicate()[1]
        if window is not None:
            watcher.wait_destroyed(window)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
        for fd in (slave, master):
            if fd is not None:
                os.close(fd)
    if mapped is None:
        return "no window; it said: %r" % said.strip()
    if painted is None:
        return "window mapped but never drawn"
    if keypad and "COM1 released" not in said:
        return "the port did not open; it said: %s" % said.strip()
    return mapped, painted


def p90(values):
    ordered = sorted(values)
    return ordered[math.ceil(0.9 * len(ordered)) - 1]


def summary_row(name, runs):
    cells = [name.ljust(14)]
    for column in (0, 1):
        values = [run[column] for run in runs]
        cells.append("%7.1f %7.1f %7.1f" % (statistics.median(values), min(values), p90(values)))
    return "   ".join(cells)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("velmor")
    parser.add_argument("plain_dialog")
    parser.add_argument("--runs", type=int, default=15, help="counted runs of each (15)")
    parser.add_argument("--each", action="store_true", help="print every run")
    parser.add_argument("--remote", action="store_true",
                        help="the keypad with its remote keypad service on (off by default)")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")

    server = None
    name = os.environ.get("DISPLAY")
    if not name:
        server, name = start_xvfb()
    try:
        watcher = Watcher(name)
        env = dict(os.environ, DISPLAY=name)
        env.pop("QT_QPA_PLATFORM", None)
        programs = [("velmor", args.velmor, True), ("plain dialog", args.plain_dialog, False)]
        results = {label: [] for label, _, _ in programs}
        # Taken in turn, so that a slow spell of the machine falls on both alike.
        for number in range(args.runs + 1):
            for label, program, keypad in programs:
                outcome = run_once(watcher, env, program, keypad, keypad and args.remote)
                if isinstance(outcome, str):
                    sys.exit("startup_bench: %s, run %d: %s" % (label, number, outcome))
                if number > 0:
                    results[label].append(outcome)
                if args.each:
                    print("%s run %d%s: mapped %.1f ms, painted %.1f ms"
                          % (label, number, " (warm-up)" if number == 0 else "", *outcome))
    finally:
        if server:
            server.kill()
            server.wait()

    print("%d runs of each on display %s%s, after one warm-up run of each; ms from exec"
          % (args.runs, name, " (an Xvfb of its own)" if server else ""))
    print(("%-14s   %s   %s" % ("", "mapped".center(23), "painted".center(23))).rstrip())
    print("%-14s   %7s %7s %7s   %7s %7s %7s"
          % ("", "median", "min", "p90", "median", "min", "p90"))
    for label, _, _ in programs:
        print(summary_row(label, results[label]))
    ratios = [statistics.median(r[c] for r in results["velmor"]) /
              statistics.median(r[c] for r in results["plain dialog"]) for c in (0, 1)]
    print("velmor / plain dialog, ratio of the medians: mapped %.2f, painted %.2f" % tuple(ratios))
    return 0


if __name__ == "__main__":
    sys.exit(main())

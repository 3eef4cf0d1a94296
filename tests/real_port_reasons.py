#!/usr/bin/env python3
"""Starts the real program offscreen on ports it cannot have and reads why on standard error.

Each case maps COM1 to a device the program cannot use and expects exactly the one line that
says why: a missing device, a device this user may not open (run as nobody when root, since
root passes every permission), a line another program holds with flock (named by its pid),
the pseudo-terminal multiplexer, a regular file, a line another Velmor holds. A relative entry naming a real line opens
it, wherever the program was started from, and says nothing.

Usage: real_port_reasons.py PATH_TO_VELMOR
"""
import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import time
import termios
import tty

NOBODY = 65534


def run(program, entry, as_nobody=False, quiet_seconds=1.5, while_running=None):
    """The program's standard error lines (Qt's own chatter left out)."""
    profile = tempfile.mkdtemp()
    os.makedirs(os.path.join(profile, "PC-ZORVIK"))
    with open(os.path.join(profile, "PC-ZORVIK", "velmor.conf"), "w") as conf:
        conf.write("[Ports]\nCOM1=%s\n" % entry)
    command = [program]
    if as_nobody:
        os.chmod(profile, 0o777)
        os.chmod(os.path.join(profile, "PC-ZORVIK"), 0o777)
        command = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups",
                   program]
    env = dict(os.environ, XDG_CONFIG_HOME=profile, QT_QPA_PLATFORM="offscreen",
               XDG_RUNTIME_DIR=profile)
    app = subprocess.Popen(command, env=env, cwd="/", stderr=subprocess.PIPE)
    lines = b""
    end = time.monotonic() + quiet_seconds
    try:
        while time.monotonic() < end:
            ready, _, _ = select.select([app.stderr], [], [], 0.05)
            if ready:
                chunk = os.read(app.stderr.fileno(), 4096)
                if not chunk:
                    break
                lines += chunk
                if b"velmor:" in lines and lines.endswith(b"\n"):
                    break
        if while_running:
            while_running()
    finally:
        app.terminate()
        app.wait()
        shutil.rmtree(profile, ignore_errors=True)
    return [l for l in lines.decode().splitlines()
            if l.startswith("velmor:") or "error" in l.lower()]


def main(program):
    master, slave = pty.openpty()
    tty.setraw(master)
    line = os.ttyname(slave)
    scratch = tempfile.mkdtemp()
    plain = os.path.join(scratch, "plain")
    open(plain, "w").close()
    problems = []

    def expect(name, got, wanted):
        if got != wanted:
            problems.append("%s:\n  got    %r\n  wanted %r" % (name, got, wanted))

    expect("missing", run(program, "/dev/ttyUSB97"),
           ["velmor: COM1 (/dev/ttyUSB97): no such device. Check that the adapter is plugged "
            "in, or choose another device for COM1 with F2 (Serial ports)."])
    expect("not serial", run(program, plain),
           ["velmor: COM1 (%s): not a serial device." % plain])
    expect("multiplexer", run(program, "/dev/ptmx"),
           ["velmor: COM1 (/dev/ptmx): refused: this is the pseudo-terminal multiplexer, not a "
            "serial port; frames sent there would reach nobody."])
    # The program sets the line to 9600 baud when it opens it (and gives the line back as
    # it found it when it ends).
    settings = termios.tcgetattr(slave)
    settings[4] = settings[5] = termios.B115200
    termios.tcsetattr(slave, termios.TCSANOW, settings)
    speeds = []
    expect("relative entry", run(program, line[len("/dev/"):], quiet_seconds=1.0,
                                 while_running=lambda: speeds.append(
                                     termios.tcgetattr(slave)[5])), [])
    expect("relative entry opens", speeds, [termios.B9600])

    holder = subprocess.Popen(["flock", "-o", line, "sh", "-c", "echo locked; exec cat"],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    holder.stdout.readline()
    expect("held", run(program, line),
           ["velmor: COM1 (%s): held by another program, flock (pid %d). Close it, then press "
            "COMMUNICATION SET." % (line, holder.pid)])
    holder.stdin.close()
    holder.wait()

    # A second Velmor on the same line finds it held by the first, named.
    first_profile = tempfile.mkdtemp()
    os.makedirs(os.path.join(first_profile, "PC-ZORVIK"))
    with open(os.path.join(first_profile, "PC-ZORVIK", "velmor.conf"), "w") as conf:
        conf.write("[Ports]\nCOM1=%s\n" % line)
    first = subprocess.Popen([program], stderr=subprocess.DEVNULL,
                             env=dict(os.environ, XDG_CONFIG_HOME=first_profile,
                                      QT_QPA_PLATFORM="offscreen"))
    time.sleep(1.0)
    expect("held by another Velmor", run(program, line),
           ["velmor: COM1 (%s): held by another program, velmor (pid %d). Close it, then press "
            "COMMUNICATION SET." % (line, first.pid)])
    first.terminate()
    first.wait()
    shutil.rmtree(first_profile, ignore_errors=True)

    mode = os.stat(line).st_mode
    os.chmod(line, 0o600 if os.geteuid() == 0 else 0)
    expect("permission denied", run(program, line, as_nobody=os.geteuid() == 0),
           ["velmor: COM1 (%s): permission denied. Join the dialout group (sudo adduser $USER "
            "dialout) and log in again." % line])
    os.chmod(line, mode)

    os.close(slave)
    os.close(master)
    shutil.rmtree(scratch, ignore_errors=True)
    for p in problems:
        print(p)
    print("%d problems" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))

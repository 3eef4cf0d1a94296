#!/usr/bin/env python3
"""Runs the Windows device test under Wine on a real line: COM8 mapped to a pseudo-terminal
whose far end this script holds, reads and, when the test asks (it makes a file), hangs up,
as an unplugged adapter does. While the test's file "hold" exists the far end reads nothing,
as a stalled line; the count of bytes read so far is kept in the file "received", both in
the folder VELMOR_TEST_TALK names.

    wine_line_check.py TEST_EXE DEPLOY_DIR

WINEPREFIX names the prefix; the mapping is removed again at the end."""
import os
import pty
import subprocess
import sys
import tempfile
import time
import tty

PORT = "COM8"


def wine(*args, **kwargs):
    return subprocess.run(["wine", *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          **kwargs)


def main():
    test, deploy = sys.argv[1:3]
    far, near = pty.openpty()
    tty.setraw(near)
    mapped = os.ttyname(near)
    wine("reg", "add", r"HKLM\Software\Wine\Ports", "/v", PORT, "/d", mapped, "/f")
    subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
    # The test opens the line itself; this end stays open only in the test's Wine process.
    os.close(near)
    work = tempfile.mkdtemp()
    ask = os.path.join(work, "hangup")
    hold = os.path.join(work, "hold")
    count = os.path.join(work, "received")
    env = dict(os.environ, VELMOR_TEST_PORT=PORT, VELMOR_TEST_HANGUP="Z:" + ask,
               VELMOR_TEST_TALK="Z:" + work, WINEPATH="Z:" + deploy, QT_PLUGIN_PATH="Z:" + deploy)
    run = subprocess.Popen(["wine", test], env=env)
    os.set_blocking(far, False)
    hung_up = False
    received = 0
    told = -1
    deadline = time.monotonic() + 240
    while run.poll() is None and time.monotonic() < deadline:
        if not hung_up:
            if not os.path.exists(hold):
                try:
                    while True:
                        got = os.read(far, 65536)
                        if not got:
                            break
                        received += len(got)
                except (BlockingIOError, OSError):
                    pass
            if received != told:
                # Whole or not at all: the test may read it at any moment.
                with open(count + ".new", "w") as out:
                    out.write(str(received))
                os.replace(count + ".new", count)
                told = received
            if os.path.exists(ask):
                os.close(far)
                hung_up = True
        time.sleep(0.01)
    if run.poll() is None:
        run.kill()
        run.wait()
        print("wine_line_check: the test did not end in time", file=sys.stderr)
    if not hung_up:
        os.close(far)
    wine("reg", "delete", r"HKLM\Software\Wine\Ports", "/v", PORT, "/f")
    subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
    print(f"wine_line_check: {received} bytes reached the line, "
          f"{'hung up on request' if hung_up else 'never asked to hang up'}")
    sys.exit(run.returncode if hung_up else 1)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""The remote keypad through the real program, with real clients: curl for HTTP and Python's
websockets for WebSocket. The program runs offscreen (one case under its own Xvfb, for a key
the local operator presses), on a profile of its own in a temporary folder with the service on
a free loopback port and COM1 a pseudo-terminal; its clients are added with the program's own
--remote-client. Every byte the line carries is read off the pty and compared whole.

Each case in CASES names what it does; per case the script prints the line's bytes, the
timings that matter and what the program said.

Usage: remote_transport.py PATH_TO_VELMOR KEYPAD_LAYOUT [WORD]
(KEYPAD_LAYOUT: the test helper that lays the window out; WORD: only the cases naming it)
"""
import asyncio
import base64
import hashlib
import hmac
import json
import os
import pty
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty

import websockets

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11_end_of_run import start_xvfb  # noqa: E402
from x11_hold_arrow_key import Window, busy_cores, find_window, keypad_layout, xdotool  # noqa: E402,E501

# The service's keep-alive: a silent WebSocket is pinged after half of it, closed at its end.
KEEP_ALIVE_S = 2.0
# Generous: bounds on order, never on speed.
SETTLE_S = 0.4
STOP_WITHIN_S = 1.5


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def unb64url(text):
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


def proof(token, salt, challenge):
    """The client's side of the sign-in, written from the scheme alone."""
    client_key = hmac.new(token.encode(), salt, hashlib.sha256).digest()
    stored_key = hashlib.sha256(client_key).digest()
    signature = hmac.new(stored_key, challenge, hashlib.sha256).digest()
    return bytes(a ^ b for a, b in zip(client_key, signature))


def oska(camera, command):
    body = "*%02X75%s00" % (camera, command)
    return (body + "%02X" % (sum(body.encode()) & 0xFF)).encode()


def pelco(camera, command2):
    return bytes([0xFF, camera, 0, command2, 0, 0, (camera + command2) & 0xFF])


def frames(protocol, camera):
    """The zoom-in (Z/I, the Up arrow), zoom-out and stop frames for camera."""
    if protocol == 0:
        return oska(camera, "01"), oska(camera, "03"), oska(camera, "09")
    return pelco(camera, 0x20), pelco(camera, 0x40), pelco(camera, 0)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Run:
    """The program on a pty line with the service on, and two clients, desk-2 and desk-3."""

    def __init__(self, program, protocol, enabled=1, display=None):
        self.program = program
        self.master, self.slave = pty.openpty()
        tty.setraw(self.master)
        self.profile = tempfile.mkdtemp()
        self.port = free_port()
        conf = os.path.join(self.profile, "PC-ZORVIK", "velmor.conf")
        os.makedirs(os.path.dirname(conf))
        with open(conf, "w") as f:
            f.write("[Ports]\nCOM1=%s\n[Settings]\nPROTOCOL=%d\n[Remote]\nEnabled=%d\n"
                    "Address=127.0.0.1:%d\n" % (os.ttyname(self.slave), protocol, enabled,
                                                 self.port))
        self.env = dict(os.environ, XDG_CONFIG_HOME=self.profile, XDG_RUNTIME_DIR=self.profile)
        if display:
            self.env["DISPLAY"] = display
            self.env.pop("QT_QPA_PLATFORM", None)
        else:
            self.env["QT_QPA_PLATFORM"] = "offscreen"
        self.tokens = {}
        for name in ("desk-2", "desk-3"):
            added = subprocess.run([program, "--remote-client", name], env=self.env,
                                   capture_output=True, text=True, check=True)
            self.tokens[name] = added.stdout.strip()
        with open(conf) as f:
            kept = f.read()
        for token in self.tokens.values():
            assert token.split(".", 1)[1] not in kept, "a token was kept in the profile"
        self.events, self.running = [], True
        self.reader = threading.Thread(target=self.Read, daemon=True)
        self.reader.start()
        self.app = subprocess.Popen([program], env=self.env, stderr=subprocess.PIPE)
        self.listening = self.WaitListening(enabled)

    def Read(self):
        import select
        while self.running:
            ready, _, _ = select.select([self.master], [], [], 0.02)
            if ready:
                try:
                    data = os.read(self.master, 4096)
                except OSError:
                    return
                now = time.monotonic()
                self.events.extend((now, b) for b in data)

    def WaitListening(self, enabled):
        until = time.monotonic() + 15
        while time.monotonic() < until:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return True
            except OSError:
                time.sleep(0.05 if enabled else 0.5)
                if not enabled and time.monotonic() > until - 12:
                    return False
        return False

    def Line(self):
        return bytes(b for _, b in self.events)

    def FirstTime(self, frame):
        """When the last byte of frame's first whole appearance on the line came."""
        data = self.Line()
        at = data.find(frame)
        return None if at < 0 else self.events[at + len(frame) - 1][0]

    def Curl(self, client, method, path, body=None, token=None, origin=None):
        command = ["curl", "-s", "-o", "-", "-w", "\n%{http_code}", "-X", method,
                   "http://127.0.0.1:%d%s" % (self.port, path)]
        token = token if token is not None else self.tokens.get(client, "")
        if token:
            command += ["-H", "Authorization: Bearer " + token]
        if origin:
            command += ["-H", "Origin: " + origin]
        if body is not None:
            command += ["-H", "Content-Type: application/json", "-d", json.dumps(body)]
        out = subprocess.run(command, capture_output=True, text=True).stdout
        text, _, status = out.rpartition("\n")
        return int(status or 0), text

    def Stop(self):
        self.app.terminate()
        try:
            _, err = self.app.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            self.app.kill()
            _, err = self.app.communicate()
        self.running = False
        self.reader.join()
        os.close(self.master)
        os.close(self.slave)
        shutil.rmtree(self.profile, ignore_errors=True)
        return [l for l in err.decode(errors="replace").splitlines() if l.startswith("velmor")]


async def signed_in(run, name, origin=None):
    ws = await websockets.connect("ws://127.0.0.1:%d/api/v1/ws?client=%s" % (run.port, name),
                                  origin=origin, ping_interval=None, max_size=2 ** 20)
    hello = json.loads(await ws.recv())
    auth = hello["d"]["authentication"]
    answer = proof(run.tokens[name], unb64url(auth["salt"]), unb64url(auth["challenge"]))
    await ws.send(json.dumps({"op": 1, "d": {"rpcVersion": 1, "authentication": b64url(answer)}}))
    identified = json.loads(await ws.recv())
    assert identified["op"] == 2, identified
    return ws


async def request(ws, kind, data, rid="1"):
    await ws.send(json.dumps({"op": 6, "d": {"requestType": kind, "requestId": rid,
                                             "requestData": data}}))
    while True:
        message = json.loads(await ws.recv())
        if message["op"] == 7 and message["d"]["requestId"] == rid:
            return message["d"]


# A client in a process of its own, to be stopped or killed while it holds.
HOLDER = r"""
import asyncio, json, sys
sys.path.insert(0, %r)
import remote_transport as rt
class R: pass
run = R(); run.port = %d; run.tokens = {"desk-2": %r}
async def main():
    ws = await rt.signed_in(run, "desk-2")
    answer = await rt.request(ws, "KeyDown", {"key": "ZI", "camera": 12, "lease_ms": %d})
    print("held" if answer["requestStatus"]["result"] else "refused", flush=True)
    await asyncio.sleep(3600)
asyncio.run(main())
"""


def holder_process(run, lease_ms):
    code = HOLDER % (os.path.dirname(os.path.abspath(__file__)), run.port, run.tokens["desk-2"],
                     lease_ms)
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline().strip() == "held"
    return child


def case_http_down_up(run, protocol, report):
    move, _, stop = frames(protocol, 12)
    status, body = run.Curl("desk-2", "POST", "/api/v1/keys/ZI/down", {"camera": 12, "lease_ms": 5000})
    report.append("down %d %s" % (status, body))
    time.sleep(0.2)
    status2, _ = run.Curl("desk-2", "POST", "/api/v1/keys/zi/up")
    time.sleep(SETTLE_S)
    return status == 200 and status2 == 200, move + stop


def case_ws_down_up(run, protocol, report):
    move, _, stop = frames(protocol, 12)

    async def go():
        ws = await signed_in(run, "desk-2")
        down = await request(ws, "KeyDown", {"key": "ZI", "camera": 12, "lease_ms": 5000}, "d")
        await asyncio.sleep(0.2)
        up = await request(ws, "KeyUp", {"key": "ZI"}, "u")
        await ws.close()
        return down["requestStatus"]["result"] and up["requestStatus"]["result"]

    ok = asyncio.run(go())
    time.sleep(SETTLE_S)
    return ok, move + stop


def case_lease_lapse(run, protocol, report):
    move, _, stop = frames(protocol, 12)
    start = time.monotonic()
    status, _ = run.Curl("desk-2", "POST", "/api/v1/keys/ZI/down", {"camera": 12, "lease_ms": 300})
    time.sleep(0.3 + STOP_WITHIN_S)
    moved, stopped = run.FirstTime(move), run.FirstTime(stop)
    held = stopped - moved if moved and stopped else -1
    report.append("held %.0f ms on a 300 ms lease (curl took %.0f ms)" %
                  (held * 1000, ((moved or start) - start) * 1000))
    return status == 200 and 0.2 <= held <= 0.3 + STOP_WITHIN_S, move + stop


def case_ws_close(run, protocol, report):
    move, _, stop = frames(protocol, 12)

    async def go():
        ws = await signed_in(run, "desk-2")
        down = await request(ws, "KeyDown", {"key": "ZI", "camera": 12, "lease_ms": 5000})
        await ws.close()
        return down["requestStatus"]["result"]

    ok = asyncio.run(go())
    closed = time.monotonic()
    time.sleep(STOP_WITHIN_S)
    stopped = run.FirstTime(stop)
    report.append("stop %.0f ms after the close" % (((stopped or closed) - closed) * 1000))
    return ok and stopped is not None and stopped - closed < STOP_WITHIN_S, move + stop


def case_sigkill(run, protocol, report):
    move, _, stop = frames(protocol, 12)
    child = holder_process(run, 5000)
    child.kill()
    killed = time.monotonic()
    child.wait()
    time.sleep(STOP_WITHIN_S)
    stopped = run.FirstTime(stop)
    report.append("stop %.0f ms after SIGKILL (lease 5000 ms)" % (((stopped or killed) - killed) * 1000))
    return stopped is not None and stopped - killed < STOP_WITHIN_S, move + stop


def case_sigstop(run, protocol, report):
    move, _, stop = frames(protocol, 12)
    child = holder_process(run, 5000)
    child.send_signal(signal.SIGSTOP)
    frozen = time.monotonic()
    time.sleep(KEEP_ALIVE_S + STOP_WITHIN_S)
    stopped = run.FirstTime(stop)
    child.kill()
    child.wait()
    after = (stopped or frozen) - frozen
    report.append("stop %.0f ms after SIGSTOP (keep-alive %.0f ms, lease 5000 ms)" %
                  (after * 1000, KEEP_ALIVE_S * 1000))
    # Before the lease could have ended it: the keep-alive found the silence.
    return stopped is not None and after < 4.5, move + stop


def case_second_client(run, protocol, report):
    move, _, stop = frames(protocol, 12)

    async def go():
        ws = await signed_in(run, "desk-2")
        down = await request(ws, "KeyDown", {"key": "ZI", "camera": 12, "lease_ms": 5000})
        status, body = run.Curl("desk-3", "POST", "/api/v1/keys/ZO/down", {"camera": 5})
        up_status, up_body = run.Curl("desk-3", "POST", "/api/v1/keys/ZI/up")
        state = json.loads(run.Curl("desk-3", "GET", "/api/v1/state")[1])
        report.append("second down %d %s; its up %d" % (status, body, up_status))
        await asyncio.sleep(0.2)
        line_mid = run.Line()
        up = await request(ws, "KeyUp", {"key": "ZI"}, "2")
        await ws.close()
        return (down["requestStatus"]["result"] and status == 409 and "desk-2" in body
                and up_status == 409 and state["holds"][0]["holder"] == "desk-2"
                and line_mid == move and up["requestStatus"]["result"])

    ok = asyncio.run(go())
    time.sleep(SETTLE_S)
    return ok, move + stop


def case_refusals(run, protocol, report):
    """Nothing moves: a wrong token, no token, a foreign Origin, oversize and malformed
    messages, a flood; the program still answers afterwards."""
    results = []
    wrong = "desk-2." + b64url(os.urandom(32))
    results.append(run.Curl("desk-2", "POST", "/api/v1/keys/ZI/down", {"camera": 12}, token=wrong)[0] == 401)
    results.append(run.Curl("-", "POST", "/api/v1/keys/ZI/down", {"camera": 12})[0] == 401)
    results.append(run.Curl("desk-2", "POST", "/api/v1/keys/ZI/down", {"camera": 12},
                            origin="https://example.com")[0] == 403)
    results.append(run.Curl("desk-2", "POST", "/api/v1/keys/ZI/down", {"camera": 300})[0] == 400)
    results.append(run.Curl("desk-2", "POST", "/api/v1/keys/QQ/down", {"camera": 1})[0] == 404)
    # "/" is the keypad page; a path that is neither a page's file nor the API is not found.
    results.append(run.Curl("desk-2", "GET", "/")[0] == 200)
    results.append(run.Curl("desk-2", "GET", "/index.html")[0] == 404)

    async def go():
        out = []
        try:
            await websockets.connect("ws://127.0.0.1:%d/api/v1/ws?client=desk-2" % run.port,
                                     origin="https://example.com")
            out.append(False)
        except websockets.exceptions.InvalidStatusCode as refused:
            out.append(refused.status_code == 403)
        ws = await signed_in(run, "desk-2")
        await ws.send("x" * 20000)
        try:
            await ws.recv()
            out.append(False)
        except websockets.exceptions.ConnectionClosed as closed:
            out.append(closed.code == 1009)
        ws = await signed_in(run, "desk-2")
        await ws.send("{not json")
        try:
            await ws.recv()
            out.append(False)
        except websockets.exceptions.ConnectionClosed as closed:
            out.append(closed.code == 4000)
        ws = await signed_in(run, "desk-2")
        for i in range(200):
            await ws.send(json.dumps({"op": 6, "d": {"requestType": "GetState", "requestId": str(i)}}))
        codes = []
        for _ in range(200):
            codes.append(json.loads(await ws.recv())["d"]["requestStatus"]["code"])
        out.append(codes.count(429) > 0 and codes.count(200) >= 50)
        report.append("flood of 200: %d answered, %d held back" % (codes.count(200), codes.count(429)))
        await ws.close()
        return out

    results += asyncio.run(go())
    results.append(run.Curl("desk-2", "GET", "/api/v1/state")[0] == 200)
    report.append("checks %s" % "".join("1" if r else "0" for r in results))
    time.sleep(SETTLE_S)
    return all(results), b""


def case_no_sign_in(run, protocol, report):
    """A WebSocket that takes its hello and never signs in is closed (4004) after 10 s,
    answering pings all the while; nothing moves."""

    async def go():
        ws = await websockets.connect("ws://127.0.0.1:%d/api/v1/ws?client=desk-2" % run.port)
        await ws.recv()
        opened = time.monotonic()
        try:
            await asyncio.wait_for(ws.recv(), 30)
            return False, 0
        except websockets.exceptions.ConnectionClosed as closed:
            return closed.code == 4004, time.monotonic() - opened

    ok, after = asyncio.run(go())
    report.append("closed after %.1f s" % after)
    return ok and 9 <= after <= 20, b""


def case_revoked(run, protocol, report):
    """A client revoked from the command line while the program runs: its token no longer
    signs in, over HTTP or WebSocket; the other client's still does."""
    before = run.Curl("desk-3", "GET", "/api/v1/state")[0]
    revoked = subprocess.run([run.program, "--remote-client", "desk-3", "--revoke"], env=run.env,
                             capture_output=True, text=True)
    after = run.Curl("desk-3", "POST", "/api/v1/keys/ZI/down", {"camera": 12})[0]
    other = run.Curl("desk-2", "GET", "/api/v1/state")[0]

    async def go():
        try:
            ws = await signed_in(run, "desk-3")
            await ws.close()
            return False
        except websockets.exceptions.ConnectionClosed as closed:
            return closed.code == 4004

    closed = asyncio.run(go())
    # The command's refusals: exit status and nothing on standard output.
    refusals = [subprocess.run([run.program, *args], env=run.env, capture_output=True,
                               text=True) for args in (["--remote-client", "desk 4"],
                                                       ["--remote-client", "desk-3", "--revoke"],
                                                       ["--remote-client"])]
    codes = [(r.returncode, r.stdout) for r in refusals]
    report.append("before %d, revoke exit %d, after %d, desk-2 %d, WebSocket refused %s, "
                  "refusals %s" % (before, revoked.returncode, after, other, closed, codes))
    return (before == 200 and revoked.returncode == 0 and after == 401 and other == 200
            and closed and codes == [(1, ""), (1, ""), (2, "")]), b""


def case_service_off(run, protocol, report):
    return not run.listening, b""


def logo_pixels(run, wid):
    """The pixels of the keypad's logo, where a client's hold is shown."""
    from Xlib import X, display
    layout = keypad_layout(run.layout_helper, run.env)
    window = Window(run.env, wid, layout)
    x, y, width, height = next(c["rect"] for c in layout["controls"] if c["kind"] == "picture")
    scale = window.width / layout["size"][0]
    screen = display.Display(run.env["DISPLAY"])
    target = screen.create_resource_object("window", int(wid))
    image = target.get_image(round(x * scale), round(y * scale), round(width * scale),
                             round(height * scale), X.ZPixmap, 0xFFFFFFFF)
    screen.close()
    return image.data


def case_local_take_over(run, protocol, report):
    """Under Xvfb: a client holds Z/I on camera 12, and the logo shows it; the operator
    presses the Up arrow: the client's stop first, then his movement on camera 0, then his
    stop, and the logo is as before."""
    move, _, stop = frames(protocol, 12)
    up0, _, stop0 = frames(protocol, 0)
    wid = find_window(run.env)
    if not wid:
        report.append("no window")
        return False, b""
    xdotool(run.env, "windowfocus", "--sync", wid)
    time.sleep(0.3)
    before = logo_pixels(run, wid)
    shown = []

    async def go():
        ws = await signed_in(run, "desk-2")
        await request(ws, "KeyDown", {"key": "ZI", "camera": 12, "lease_ms": 5000})
        await asyncio.sleep(0.3)
        shown.append(logo_pixels(run, wid))
        xdotool(run.env, "keydown", "Up")
        event = {"op": 0}
        while event["op"] != 5 or event["d"]["eventType"] == "Held":
            event = json.loads(await asyncio.wait_for(ws.recv(), 5))
        await asyncio.sleep(0.3)
        xdotool(run.env, "keyup", "Up")
        report.append("the client was told %s" % event["d"]["eventType"])
        await ws.close()
        return event["d"]["eventType"] == "TakenOver"

    ok = asyncio.run(go())
    time.sleep(SETTLE_S)
    after = logo_pixels(run, wid)
    report.append("the logo changed while the client held: %s; as before after: %s" %
                  (shown[0] != before, after == before))
    return ok and shown[0] != before and after == before, move + stop + up0 + stop0


def case_dialog_open(run, protocol, report):
    """Under Xvfb: the Remote keypad dialog (F3) is open, modal over the window; a client's
    lease still lapses with its stop, and a WebSocket's close still stops its hold."""
    move, _, stop = frames(protocol, 12)
    wid = find_window(run.env)
    if not wid:
        report.append("no window")
        return False, b""
    xdotool(run.env, "windowfocus", "--sync", wid)
    xdotool(run.env, "key", "F3")
    dialog = []
    for _ in range(100):
        dialog = xdotool(run.env, "search", "--name", "^Remote keypad$").stdout.split()
        if dialog:
            break
        time.sleep(0.05)
    status, _ = run.Curl("desk-2", "POST", "/api/v1/keys/ZI/down", {"camera": 12, "lease_ms": 300})
    time.sleep(0.3 + STOP_WITHIN_S)

    async def go():
        ws = await signed_in(run, "desk-3")
        down = await request(ws, "KeyDown", {"key": "ZI", "camera": 12, "lease_ms": 5000})
        await ws.close()
        return down["requestStatus"]["result"]

    closed_ok = asyncio.run(go())
    time.sleep(SETTLE_S)
    still = xdotool(run.env, "search", "--name", "^Remote keypad$").stdout.split()
    report.append("dialog %s, still open %s" % (bool(dialog), bool(still)))
    return bool(dialog) and bool(still) and status == 200 and closed_ok, (move + stop) * 2


CASES = [
    # name, protocol, case, how: "offscreen", "x11", "off" (the service off); "+load": two
    # busy processes on the cores throughout
    ("HTTP down and up on camera 12", 0, case_http_down_up, "offscreen"),
    ("HTTP down and up on camera 12", 1, case_http_down_up, "offscreen"),
    ("WebSocket down and up on camera 12", 0, case_ws_down_up, "offscreen"),
    ("WebSocket down and up on camera 12", 1, case_ws_down_up, "offscreen"),
    ("HTTP down never renewed: the lease lapses", 0, case_lease_lapse, "offscreen"),
    ("HTTP down never renewed: the lease lapses", 1, case_lease_lapse, "offscreen"),
    ("WebSocket hold, then close", 1, case_ws_close, "offscreen"),
    ("WebSocket client killed (SIGKILL) while holding", 0, case_sigkill, "offscreen"),
    ("WebSocket client stopped (SIGSTOP) while holding", 1, case_sigstop, "offscreen"),
    ("WebSocket down and up on camera 12, two busy loops", 1, case_ws_down_up, "offscreen+load"),
    ("HTTP down never renewed: the lease lapses, two busy loops", 0, case_lease_lapse,
     "offscreen+load"),
    ("a second client is refused and its up ends nothing", 1, case_second_client, "offscreen"),
    ("refusals: token, Origin, range, size, malformed, flood", 1, case_refusals, "offscreen"),
    ("a client revoked while the program runs", 0, case_revoked, "offscreen"),
    ("a WebSocket that never signs in", 0, case_no_sign_in, "offscreen"),
    ("the service off: no port open", 0, case_service_off, "off"),
    ("the local operator's key takes over", 1, case_local_take_over, "x11"),
    ("a lapse and a close with the Remote keypad dialog open", 0, case_dialog_open, "x11"),
]


def main(program, layout_helper, word=None):
    failures = 0
    for name, protocol, case, how in CASES:
        if word and word not in name:
            continue
        server, display = (start_xvfb() if how == "x11" else (None, None))
        busy = busy_cores() if how.endswith("+load") else []
        run = Run(program, protocol, enabled=0 if how == "off" else 1, display=display)
        run.layout_helper = layout_helper
        report = []
        try:
            if how != "off" and not run.listening:
                ok, wanted = False, b""
                report.append("the service never listened")
            else:
                ok, wanted = case(run, protocol, report)
        except Exception as error:  # a case that throws fails, and the others still run
            ok, wanted = False, b""
            report.append("raised %r" % error)
        line = run.Line()
        said = run.Stop()
        for process in busy:
            process.kill()
            process.wait()
        if server:
            server.terminate()
            server.wait()
        good = ok and line == wanted
        failures += not good
        print("%s: %s (%s)" % ("ok" if good else "FAILED", name,
                               "PELCO D" if protocol else "OSKA-DEFAULT"))
        print("  line   %s" % line.hex(" "))
        if line != wanted:
            print("  wanted %s" % wanted.hex(" "))
        for r in report:
            print("  " + r)
        for s in said:
            print("  said: " + s)
    print("%d failed" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None))

#!/usr/bin/env python3
"""The keypad page in a real browser: Debian's headless Chromium, driven by Selenium and the
DevTools protocol with real touch and mouse input, against the real program (offscreen, or
under Xvfb for the local operator's key) with COM1 a pseudo-terminal read byte for byte.
Each case opens the page in a fresh browser profile, signs in by typing the token, types the
camera's address on the page's own keys and holds a key.

Usage: browser_keypad.py PATH_TO_VELMOR [WORD] [--shots FOLDER]
(WORD: only the cases naming it; --shots: screenshots at phone and tablet size, both schemes)
"""
import json
import os
import shutil
import signal
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from remote_transport import KEEP_ALIVE_S, Run, frames  # noqa: E402
from x11_end_of_run import start_xvfb  # noqa: E402
from x11_hold_arrow_key import find_window, xdotool  # noqa: E402

LEASE_S = 1.0  # the page's lease
# Generous: bounds on order, never on speed.
WAIT_S = 5.0
SETTLE_S = 0.5


class Browser:
    """One headless Chromium with a profile of its own, at a phone's size unless told."""

    def __init__(self, width=360, height=640, dark=False):
        self.profile = tempfile.mkdtemp()
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                    "--disable-background-networking", "--no-first-run",
                    "--user-data-dir=" + self.profile, "--window-size=%d,%d" % (width, height)):
            options.add_argument(arg)
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.cdp("Emulation.setDeviceMetricsOverride",
                 {"width": width, "height": height, "deviceScaleFactor": 1,
                  "mobile": width < 700})
        self.cdp("Emulation.setEmulatedMedia",
                 {"features": [{"name": "prefers-color-scheme",
                                "value": "dark" if dark else "light"}]})

    def cdp(self, command, args=None):
        return self.driver.execute_cdp_cmd(command, args or {})

    def Open(self, url):
        self.driver.get(url)

    def Text(self, element_id):
        return self.driver.find_element(By.ID, element_id).text

    def WaitText(self, element_id, words, within=WAIT_S):
        until = time.monotonic() + within
        while time.monotonic() < until:
            if words in self.Text(element_id):
                return True
            time.sleep(0.05)
        return False

    def Centre(self, selector):
        box = self.driver.execute_script(
            "const r = document.querySelector(arguments[0]).getBoundingClientRect();"
            "return [r.left + r.width / 2, r.top + r.height / 2];", selector)
        return box[0], box[1]

    def Touch(self, kind, x=0, y=0):
        points = [] if kind == "touchEnd" else [{"x": x, "y": y, "id": 1}]
        self.cdp("Input.dispatchTouchEvent", {"type": kind, "touchPoints": points})

    def Mouse(self, kind, x, y):
        self.cdp("Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y, "button": "left",
                                              "buttons": 1 if kind == "mousePressed" else 0,
                                              "clickCount": 1})

    def SignIn(self, token):
        field = self.driver.find_element(By.ID, "token")
        field.send_keys(token)
        self.driver.find_element(By.CSS_SELECTOR, "#signin button").click()

    def Camera(self, number):
        for digit in str(number):
            self.driver.find_element(By.CSS_SELECTOR, '[data-digit="%s"]' % digit).click()
        self.driver.find_element(By.CSS_SELECTOR, '[data-entry="ENT"]').click()

    def Processes(self):
        """Every process of this browser: the driver's descendants."""
        parents = {}
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open("/proc/%s/stat" % entry) as f:
                        parents[int(entry)] = int(f.read().rsplit(")", 1)[1].split()[1])
                except (OSError, IndexError, ValueError):
                    pass
        found, todo = [], [self.driver.service.process.pid]
        while todo:
            pid = todo.pop()
            children = [p for p, parent in parents.items() if parent == pid]
            found += children
            todo += children
        return found

    def Quit(self):
        try:
            self.driver.quit()
        except Exception:  # a killed browser: its driver goes with it
            self.driver.service.process.kill()
        shutil.rmtree(self.profile, ignore_errors=True)


def signed_in_page(run, name="desk-2", host="127.0.0.1", insecure=False, **kw):
    browser = Browser(**kw)
    if insecure:
        # As a page opened over http from a LAN address: no secure context, no Web Crypto.
        browser.cdp("Page.addScriptToEvaluateOnNewDocument", {"source":
                    "Object.defineProperty(window, 'isSecureContext', {value: false});"
                    "Object.defineProperty(window.crypto, 'subtle', {value: undefined});"})
    browser.Open("http://%s:%d/" % (host, run.port))
    browser.SignIn(run.tokens[name])
    assert browser.WaitText("line", "Line:"), browser.Text("line")
    browser.Camera(12)
    time.sleep(0.2)
    return browser


def stop_after(run, stop, since, within):
    """Seconds from `since` to the stop's last byte, or None."""
    until = since + within
    while time.monotonic() < until:
        at = run.FirstTime(stop)
        if at is not None:
            return at - since
        time.sleep(0.02)
    return None


def case_hold_two_seconds(run, protocol, report, browser_box):
    """Touch (PELCO D) or mouse (OSKA-DEFAULT) on Z/I for 2 s: the movement, renewed and
    never stopped while held; one stop at the release."""
    move, _, stop = frames(protocol, 12)
    browser = browser_box.append(signed_in_page(run)) or browser_box[0]
    x, y = browser.Centre('[data-key="ZI"]')
    if protocol:
        browser.Touch("touchStart", x, y)
    else:
        browser.Mouse("mouseMoved", x, y)
        browser.Mouse("mousePressed", x, y)
    time.sleep(2.0)
    held_line = run.Line()
    released = time.monotonic()
    if protocol:
        browser.Touch("touchEnd")
    else:
        browser.Mouse("mouseReleased", x, y)
    after = stop_after(run, stop, released, WAIT_S)
    report.append("stop %.0f ms after the release" % ((after or 0) * 1000))
    return held_line == move and after is not None, move + stop


def case_no_web_crypto(run, protocol, report, browser_box):
    """Signed in with the page's own SHA-256 and HMAC: a hold and its stop."""
    move, _, stop = frames(protocol, 12)
    browser = browser_box.append(signed_in_page(run, insecure=True)) or browser_box[0]
    secure = browser.driver.execute_script("return [window.isSecureContext, !!crypto.subtle]")
    x, y = browser.Centre('[data-key="ZI"]')
    browser.Touch("touchStart", x, y)
    time.sleep(0.5)
    browser.Touch("touchEnd")
    after = stop_after(run, stop, time.monotonic(), WAIT_S)
    report.append("secure context, Web Crypto: %s" % secure)
    return secure == [False, False] and after is not None, move + stop


def case_space_held(run, protocol, report, browser_box):
    """The keyboard: Space held on a focused Z/I moves, its release stops."""
    move, _, stop = frames(protocol, 12)
    browser = browser_box.append(signed_in_page(run)) or browser_box[0]
    key = browser.driver.find_element(By.CSS_SELECTOR, '[data-key="ZI"]')
    browser.driver.execute_script("arguments[0].focus()", key)
    ActionChains(browser.driver).key_down(Keys.SPACE).pause(1.5).perform()
    held_line = run.Line()
    ActionChains(browser.driver).key_up(Keys.SPACE).perform()
    after = stop_after(run, stop, time.monotonic(), WAIT_S)
    return held_line == move and after is not None, move + stop


def case_tab_closed(run, protocol, report, browser_box):
    move, _, stop = frames(protocol, 12)
    browser = browser_box.append(signed_in_page(run)) or browser_box[0]
    driver = browser.driver
    first = driver.current_window_handle
    driver.switch_to.new_window("tab")
    keep = driver.current_window_handle
    driver.switch_to.window(first)
    x, y = browser.Centre('[data-key="ZI"]')
    browser.Touch("touchStart", x, y)
    time.sleep(0.5)
    closed = time.monotonic()
    driver.close()
    driver.switch_to.window(keep)
    after = stop_after(run, stop, closed, LEASE_S + WAIT_S)
    report.append("figure: tab closed -> stop's last byte %.0f ms" % ((after or 0) * 1000))
    return after is not None and after < LEASE_S + 1.0, move + stop


def case_offline(run, protocol, report, browser_box):
    move, _, stop = frames(protocol, 12)
    browser = browser_box.append(signed_in_page(run)) or browser_box[0]
    browser.cdp("Network.enable")
    x, y = browser.Centre('[data-key="ZI"]')
    browser.Touch("touchStart", x, y)
    time.sleep(0.5)
    went = time.monotonic()
    browser.cdp("Network.emulateNetworkConditions", {"offline": True, "latency": 0,
                                                     "downloadThroughput": -1,
                                                     "uploadThroughput": -1})
    after = stop_after(run, stop, went, LEASE_S + WAIT_S)
    said = browser.WaitText("line", "Connection lost")
    report.append("figure: offline -> stop's last byte %.0f ms; the page says %r" %
                  ((after or 0) * 1000, browser.Text("line")))
    browser.Touch("touchEnd")
    return after is not None and after < LEASE_S + 1.0 and said, move + stop


def case_browser_stopped(run, protocol, report, browser_box):
    move, _, stop = frames(protocol, 12)
    browser = browser_box.append(signed_in_page(run)) or browser_box[0]
    x, y = browser.Centre('[data-key="ZI"]')
    browser.Touch("touchStart", x, y)
    time.sleep(0.5)
    frozen = browser.Processes()
    for pid in frozen:
        os.kill(pid, signal.SIGSTOP)
    at = time.monotonic()
    after = stop_after(run, stop, at, LEASE_S + KEEP_ALIVE_S + WAIT_S)
    for pid in frozen:
        os.kill(pid, signal.SIGCONT)
    report.append("%d processes stopped; stop %.0f ms after" % (len(frozen), (after or 0) * 1000))
    return after is not None and after < LEASE_S + KEEP_ALIVE_S + 1.0, move + stop


def case_browser_killed(run, protocol, report, browser_box):
    move, _, stop = frames(protocol, 12)
    browser = browser_box.append(signed_in_page(run)) or browser_box[0]
    x, y = browser.Centre('[data-key="ZI"]')
    browser.Touch("touchStart", x, y)
    time.sleep(0.5)
    for pid in browser.Processes():
        os.kill(pid, signal.SIGKILL)
    at = time.monotonic()
    after = stop_after(run, stop, at, LEASE_S + WAIT_S)
    report.append("stop %.0f ms after SIGKILL" % ((after or 0) * 1000))
    return after is not None, move + stop


def case_slide_off(run, protocol, report, browser_box):
    move, _, stop = frames(protocol, 12)
    browser = browser_box.append(signed_in_page(run)) or browser_box[0]
    x, y = browser.Centre('[data-key="ZI"]')
    far_x, far_y = browser.Centre("#camera")
    browser.Touch("touchStart", x, y)
    for step in range(1, 11):
        browser.Touch("touchMove", x + (far_x - x) * step / 10, y + (far_y - y) * step / 10)
        time.sleep(0.05)
    time.sleep(1.5)  # past the lease: the renewals go on for a finger off the key
    before_lift = run.Line()
    lifted = time.monotonic()
    browser.Touch("touchEnd")
    after = stop_after(run, stop, lifted, WAIT_S)
    report.append("stop %.0f ms after the lift, away from the key" % ((after or 0) * 1000))
    return before_lift == move and after is not None, move + stop


def case_second_page(run, protocol, report, browser_box):
    move, _, stop = frames(protocol, 12)
    first = browser_box.append(signed_in_page(run)) or browser_box[0]
    # Another origin of the same service (localhost), so its own storage and token.
    second = signed_in_page(run, "desk-3", host="localhost")
    browser_box.append(second)
    x, y = first.Centre('[data-key="ZI"]')
    first.Touch("touchStart", x, y)
    time.sleep(0.3)
    x2, y2 = second.Centre('[data-key="ZO"]')
    second.Touch("touchStart", x2, y2)
    refused = second.WaitText("news", "desk-2")
    shown = second.WaitText("holds", "desk-2 holds Z/I on camera 12")
    report.append("the second page says %r; %r" % (second.Text("news"), second.Text("holds")))
    second.Touch("touchEnd")
    first.Touch("touchEnd")
    time.sleep(SETTLE_S)
    return refused and shown, move + stop


def case_taken_over(run, protocol, report, browser_box):
    move, _, stop = frames(protocol, 12)
    up0, _, stop0 = frames(protocol, 0)
    wid = find_window(run.env)
    browser = browser_box.append(signed_in_page(run)) or browser_box[0]
    x, y = browser.Centre('[data-key="ZI"]')
    browser.Touch("touchStart", x, y)
    time.sleep(0.3)
    xdotool(run.env, "windowfocus", "--sync", wid)
    xdotool(run.env, "keydown", "Up")
    said = browser.WaitText("news", "Taken over by the local operator")
    xdotool(run.env, "keyup", "Up")
    browser.Touch("touchEnd")
    time.sleep(SETTLE_S)
    report.append("the page says %r" % browser.Text("news"))
    return said, move + stop + up0 + stop0


def case_bad_token(run, protocol, report, browser_box):
    browser = Browser()
    browser_box.append(browser)
    browser.Open("http://127.0.0.1:%d/" % run.port)
    asked = browser.driver.find_element(By.ID, "signin").is_displayed()
    x, y = browser.Centre('[data-key="ZI"]')
    browser.Touch("touchStart", x, y)  # no token: nothing may move
    time.sleep(0.3)
    browser.Touch("touchEnd")
    wrong = "desk-2." + "A" * 43
    browser.SignIn(wrong)
    again = browser.WaitText("news", "The token was refused")
    browser.Camera(12)
    browser.Touch("touchStart", x, y)
    time.sleep(0.5)
    browser.Touch("touchEnd")
    url = browser.driver.current_url
    report.append("asked %s, asked again %s; the URL %s" % (asked, again, url))
    return asked and again and "desk-2" not in url, b""


def case_headers(run, protocol, report, browser_box):
    """The page and its files: a policy that allows only its own origin, nosniff, no cache;
    a foreign Origin still refused; the pure-JS hashes against Python's."""
    import hashlib
    import hmac
    import urllib.request
    ok = True
    for path in ("/", "/page/keypad.js", "/page/keypad.css"):
        with urllib.request.urlopen("http://127.0.0.1:%d%s" % (run.port, path)) as reply:
            headers = reply.headers
            size = len(reply.read())
        policy = headers.get("Content-Security-Policy", "")
        good = (policy.startswith("default-src 'self'; connect-src 'self' ws://127.0.0.1:%d "
                                  % run.port) and headers.get("X-Content-Type-Options") == "nosniff"
                and headers.get("Cache-Control") == "no-store")
        report.append("%s %d bytes %s" % (path, size, "ok" if good else dict(headers)))
        ok = ok and good
    status, _ = run.Curl("desk-2", "GET", "/", origin="http://evil.example")
    ok = ok and status == 403
    browser = Browser()
    browser_box.append(browser)
    browser.Open("http://127.0.0.1:%d/" % run.port)
    for key, message in ((b"k" * 100, b"b" * 130), (b"", b""), (b"key", b"a" * 55)):
        got = browser.driver.execute_script(
            "const b = (h) => Uint8Array.from(h.match(/../g) || [], (x) => parseInt(x, 16));"
            "const hex = (a) => Array.from(a, (x) => x.toString(16).padStart(2, '0')).join('');"
            "return [hex(Sha.hmac(b(arguments[0]), b(arguments[1]))), hex(Sha.sha256(b(arguments[1])))];",
            key.hex(), message.hex())
        want = [hmac.new(key, message, hashlib.sha256).hexdigest(),
                hashlib.sha256(message).hexdigest()]
        ok = ok and got == want
    report.append("foreign origin %d; pure-JS SHA-256 and HMAC %s" % (status, ok))
    return ok, b""


CASES = [
    # name, protocol, case, how ("offscreen" or "x11")
    ("hold Z/I 2 s by mouse on camera 12", 0, case_hold_two_seconds, "offscreen"),
    ("hold Z/I 2 s by touch on camera 12", 1, case_hold_two_seconds, "offscreen"),
    ("Space held on Z/I", 1, case_space_held, "offscreen"),
    ("signed in without Web Crypto", 0, case_no_web_crypto, "offscreen"),
    ("the tab closed while held", 1, case_tab_closed, "offscreen"),
    ("offline while held", 0, case_offline, "offscreen"),
    ("every browser process SIGSTOPped while held", 1, case_browser_stopped, "offscreen"),
    ("the browser killed while held", 0, case_browser_killed, "offscreen"),
    ("a finger slides off and lifts elsewhere", 1, case_slide_off, "offscreen"),
    ("a second page while the first moves", 0, case_second_page, "offscreen"),
    ("the local operator takes over", 1, case_taken_over, "x11"),
    ("no token, then a wrong one", 1, case_bad_token, "offscreen"),
    ("the page's headers and hashes", 1, case_headers, "offscreen"),
]


def screenshots(program, folder):
    os.makedirs(folder, exist_ok=True)
    run = Run(program, 1)
    try:
        for width, height in ((360, 640), (1024, 768)):
            for dark in (False, True):
                browser = signed_in_page(run, width=width, height=height, dark=dark)
                time.sleep(0.3)
                browser.driver.get_screenshot_as_file(os.path.join(
                    folder, "keypad-%dx%d-%s.png" % (width, height, "dark" if dark else "light")))
                browser.Quit()
    finally:
        run.Stop()


def main(program, word=None):
    failures = 0
    for name, protocol, case, how in CASES:
        if word and word not in name:
            continue
        server, display = (start_xvfb() if how == "x11" else (None, None))
        run = Run(program, protocol, display=display)
        report, browsers = [], []
        try:
            ok, wanted = case(run, protocol, report, browsers)
        except Exception as error:  # a case that throws fails, and the others still run
            ok, wanted = False, None
            report.append("raised %r" % error)
        time.sleep(SETTLE_S)
        line = run.Line()
        for browser in browsers:
            browser.Quit()
        said = run.Stop()
        if server:
            server.terminate()
            server.wait()
        good = ok and line == wanted
        failures += not good
        print("%s: %s (%s)" % ("ok" if good else "FAILED", name,
                               "PELCO D" if protocol else "OSKA-DEFAULT"), flush=True)
        print("  line   %s" % line.hex(" "))
        if wanted is not None and line != wanted:
            print("  wanted %s" % wanted.hex(" "))
        for r in report + ["said: " + s for s in said]:
            print("  " + r)
    print("%d passed, %d failed" % (len([c for c in CASES if not word or word in c[0]]) - failures,
                                    failures))
    return 1 if failures else 0


if __name__ == "__main__":
    args = sys.argv[1:]
    if "--shots" in args:
        screenshots(args[0], args[args.index("--shots") + 1])
        sys.exit(0)
    sys.exit(main(args[0], args[1] if len(args) > 1 else None))

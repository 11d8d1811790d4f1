#!/usr/bin/env python3
"""The front panel in headless Chromium (DevTools protocol over a pipe) against tovrik-emu.

With TOVRIK_SCREENSHOTS=DIR, saves the page at desktop and phone width there."""
import base64
import json
import os
import select
import shutil
import socket
import subprocess
import sys
import time
import unittest

EMU, CTL = sys.argv[1], sys.argv[2]
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
if not CHROMIUM:
    print("chromium is not installed (apt-get install chromium)")
    sys.exit(77)
from web_serve import TOKEN, WebServer  # noqa: E402


def wait_for(predicate, seconds=5):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return False


class Browser:
    """Chromium with --remote-debugging-pipe: commands on fd 3, answers on fd 4, NUL-ended."""

    def __init__(self, profile, lang):
        to_chrome, self.out = os.pipe()
        self.inp, from_chrome = os.pipe()

        # pass_fds keeps 3 and 4 open in the child, where they are set before it closes the rest.
        def fds():
            os.dup2(to_chrome, 3)
            os.dup2(from_chrome, 4)

        self.process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
             "--disable-background-networking", "--no-first-run", "--user-data-dir=" + profile,
             "--lang=" + lang, "--accept-lang=" + lang, "--hide-scrollbars", "--remote-debugging-pipe", "about:blank"],
            preexec_fn=fds, pass_fds=(3, 4), stderr=subprocess.DEVNULL)
        os.close(to_chrome)
        os.close(from_chrome)
        self.next_id = 0
        self.buffer = b""

    def call(self, method, session=None, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self.out, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.buffer:
                ready, _, _ = select.select([self.inp], [], [], 30)
                if not ready:
                    raise TimeoutError(method)
                self.buffer += os.read(self.inp, 1 << 20)
            raw, self.buffer = self.buffer.split(b"\0", 1)
            answer = json.loads(raw)
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError(answer["error"])
                return answer["result"]

    def open(self, url):
        target = self.call("Target.createTarget", url=url)["targetId"]
        return self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]

    def js(self, session, expression):
        result = self.call("Runtime.evaluate", session, expression=expression,
                           awaitPromise=True, returnByValue=True)
        return result["result"].get("value")

    def close(self):
        self.process.kill()
        self.process.wait()
        os.close(self.out)
        os.close(self.inp)


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = WebServer(EMU, CTL)
        cls.url, cls.raw_port = cls.server.url, cls.server.raw_port
        cls.browser = Browser(os.path.join(cls.server.folder.name, "profile"), "ja")

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.server.stop()

    def scpi(self, line):
        with socket.create_connection(("127.0.0.1", self.raw_port), 5) as s:
            s.sendall(line.encode() + b"\n")
            return s.makefile().readline().strip()

    def writes(self):
        return len(self.server.writes())

    def test_controls_reach_the_device_and_changes_show(self):
        b = self.browser
        page = b.open(self.url)
        self.assertTrue(wait_for(lambda: b.js(page, "document.querySelectorAll('.readout').length") == 2))
        self.assertIn("出力周波数", b.js(page, "document.body.innerText"))
        self.assertIn("TVK00002", b.js(page, "document.body.innerText"))
        b.js(page, "const f = document.querySelector('.channel input[type=text]');"
                   "f.value = '5 MHz'; f.form.requestSubmit()")
        self.assertTrue(wait_for(lambda: round(float(self.scpi("SOUR1:FREQ?"))) == 5000000))
        b.js(page, "document.querySelector('.channel input[type=checkbox]').click()")
        self.assertTrue(wait_for(lambda: self.scpi("OUTP1?") == "1"))
        # A change made over SCPI shows within a second.
        self.scpi("SOUR2:FREQ 7MHZ;*OPC?")
        self.assertTrue(wait_for(lambda: "7,000,000." in b.js(
            page, "document.querySelectorAll('.readout')[1].textContent"), 1))
        if os.environ.get("TOVRIK_SCREENSHOTS"):
            for name, width, height, mobile in (("desktop", 1280, 560, False),
                                                ("phone", 390, 844, True)):
                b.call("Emulation.setDeviceMetricsOverride", page, width=width, height=height,
                       deviceScaleFactor=1 if not mobile else 2, mobile=mobile)
                time.sleep(0.3)
                shot = b.call("Page.captureScreenshot", page, format="png")["data"]
                path = os.path.join(os.environ["TOVRIK_SCREENSHOTS"], "web-panel-%s.png" % name)
                with open(path, "wb") as f:
                    f.write(base64.b64decode(shot))

    def test_without_the_token_the_page_is_read_only(self):
        b = self.browser
        page = b.open(self.url.split("#")[0])
        self.assertTrue(wait_for(lambda: b.js(page, "document.querySelectorAll('.readout').length") == 2))
        self.assertTrue(b.js(page, "[...document.querySelectorAll('input, #stop')].every(e => e.disabled)"))
        before = self.writes()
        status = b.js(page, "fetch('/api/channels/1', {method: 'PUT', body: '{\"output\": true}',"
                            " headers: {'Authorization': 'Bearer wrong'}}).then(r => r.status)")
        self.assertEqual(status, 401)
        # A form posted from a page of another origin carries no token.
        other = b.open("data:text/html,<form method=post action='http://%s/api/stop'></form>"
                       % self.url.split("/")[2])
        b.js(other, "document.forms[0].submit()")
        time.sleep(0.5)
        self.assertEqual(self.writes(), before)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])

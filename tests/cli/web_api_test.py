#!/usr/bin/env python3
"""tovrikctl serve --http under tovrik-emu: the JSON API, its safety limits and the push."""
import http.client
import json
import os
import socket
import subprocess
import sys
import time
import unittest
import xml.etree.ElementTree as ET

EMU, CTL = sys.argv[1], sys.argv[2]
from web_serve import TOKEN, WebServer


def closed_answer(s, wait=5):
    """What the server answers before it closes; a reset counts as closed."""
    s.settimeout(wait)
    try:
        return s.recv(200)
    except ConnectionResetError:
        return b""


class Web(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = WebServer(EMU, CTL)
        cls.port, cls.raw_port = cls.server.port, cls.server.raw_port

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def writes(self):
        return self.server.writes()

    def request(self, method, path, body=None, headers=None, token=TOKEN):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        h = {"Host": "127.0.0.1:%d" % self.port}
        if token:
            h["Authorization"] = "Bearer " + token
        h.update(headers or {})
        c.request(method, path, body=json.dumps(body) if isinstance(body, dict) else body,
                  headers=h)
        r = c.getresponse()
        data = r.read()
        c.close()
        return r, data

    def scpi(self, line):
        with socket.create_connection(("127.0.0.1", self.raw_port), 5) as s:
            s.sendall(line.encode() + b"\n")
            return s.makefile().readline().strip()

    def test_state_and_writes(self):
        r, data = self.request("GET", "/api/instrument", token=None)
        self.assertEqual(r.status, 200)
        view = json.loads(data)
        self.assertEqual([c["serial"] for c in view["channels"]], ["TVK00001", "TVK00002"])
        self.assertEqual(view["firmware"], "06/01/05")
        r, data = self.request("PUT", "/api/channels/2", {"frequency": "12.8 MHz", "output": True})
        self.assertEqual(r.status, 200, data)
        second = json.loads(data)["channels"][1]
        # The frequency of the nearest tuning word, in the readout's format.
        self.assertRegex(second["readout"], r"^12,800,000\.\d\dHz$")
        self.assertTrue(second["output"])
        hz, output = self.scpi("SOUR2:FREQ?;:OUTP2?").split(";")
        self.assertEqual((round(float(hz)), output), (12800000, "1"))
        r, _ = self.request("POST", "/api/stop")
        self.assertEqual(r.status, 200)
        self.assertEqual(self.scpi("OUTP1?;:OUTP2?"), "0;0")

    def test_refused_writes_change_nothing(self):
        cases = [  # (what, path, body, headers, token, status, SCPI code)
            ("no token", "/api/channels/1", {"output": True}, {}, None, 401, -203),
            ("wrong token", "/api/channels/1", {"output": True}, {}, "x" * 32, 401, -203),
            ("foreign Host", "/api/channels/1", {"output": True},
             {"Host": "rebound.example:%d" % self.port}, TOKEN, 403, -203),
            ("out of range", "/api/channels/1", {"frequency": 1e9, "output": True}, {}, TOKEN,
             400, -222),
            ("bad unit", "/api/channels/1", {"frequency": "12 furlongs"}, {}, TOKEN, 400, -224),
            ("unknown member", "/api/channels/1", {"volume": 11}, {}, TOKEN, 400, -108),
            ("not JSON", "/api/channels/1", "{", {}, TOKEN, 400, -102),
            ("no such channel", "/api/channels/7", {"output": True}, {}, TOKEN, 404, -241),
            ("suffix", "/api/channels/100", {"output": True}, {}, TOKEN, 404, -131),
        ]
        before = self.writes()
        for what, path, body, headers, token, status, code in cases:
            with self.subTest(what):
                r, data = self.request("PUT", path, body, headers, token)
                self.assertEqual(r.status, status, data)
                error = json.loads(data)["error"]
                if code is not None:
                    self.assertEqual(error["code"], code)
                self.assertTrue(error["text"])
                self.assertIsNone(r.getheader("Access-Control-Allow-Origin"))
        self.assertEqual(self.writes(), before)
        # A page of another origin gets no CORS answer, so its browser sends nothing.
        r, _ = self.request("OPTIONS", "/api/channels/1", headers={
            "Origin": "http://127.0.0.1:1", "Access-Control-Request-Method": "PUT"})
        self.assertEqual(r.status, 405)
        self.assertIsNone(r.getheader("Access-Control-Allow-Origin"))

    def raw(self, data, wait=3):
        with socket.create_connection(("127.0.0.1", self.port), 5) as s:
            s.sendall(data)
            return closed_answer(s, wait)

    def test_limits(self):
        host = b"Host: 127.0.0.1:%d\r\n" % self.port
        self.assertIn(b" 431 ", self.raw(b"GET / HTTP/1.1\r\n" + host +
                                         b"X-Pad: " + b"a" * 9000 + b"\r\n\r\n"))
        self.assertIn(b" 413 ", self.raw(b"PUT /api/channels/1 HTTP/1.1\r\n" + host +
                                         b"Content-Length: 5000\r\n\r\n" + b" " * 5000))
        # Connections beyond the bound are closed at once; a silent one after its deadline.
        held = [socket.create_connection(("127.0.0.1", self.port), 5) for _ in range(16)]
        self.assertEqual(self.raw(b"", wait=5), b"")
        start = time.monotonic()
        held[0].settimeout(20)
        self.assertEqual(held[0].recv(10), b"")
        self.assertLess(time.monotonic() - start, 15)
        for s in held:
            s.close()
        time.sleep(0.5)
        self.assertEqual(self.request("GET", "/api/instrument")[0].status, 200)

    def test_lxi_identification(self):
        r, data = self.request("GET", "/lxi/identification")
        self.assertEqual(r.status, 200)
        ns = {"l": "http://www.lxistandard.org/InstrumentIdentification/1.0"}
        root = ET.fromstring(data)
        for name in ("Manufacturer", "Model", "SerialNumber", "FirmwareRevision",
                     "ManufacturerDescription", "HomepageURL", "DriverURLs", "Interface",
                     "Domain", "LXIVersion"):
            self.assertIsNotNone(root.find("l:" + name, ns), name)
        self.assertEqual(root.find("l:SerialNumber", ns).text, "TVK00001")
        addresses = [e.text for e in root.findall("l:Interface/l:InstrumentAddressString", ns)]
        self.assertEqual(addresses, ["TCPIP::127.0.0.1::INSTR",
                                     "TCPIP::127.0.0.1::%d::SOCKET" % self.raw_port])

    def test_page_language_and_raw_port_refuses_http(self):
        for language, text in (("ja,en;q=0.5", "出力周波数"), ("en-GB,ja;q=0.8", "Output frequency")):
            r, data = self.request("GET", "/", headers={"Accept-Language": language})
            self.assertIn(text, data.decode())
        with socket.create_connection(("127.0.0.1", self.raw_port), 5) as s:
            s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
            s.settimeout(5)
            self.assertEqual(s.recv(100), b"")

    def test_a_change_over_scpi_is_pushed(self):
        with socket.create_connection(("127.0.0.1", self.port), 5) as s:
            s.sendall(b"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % self.port)
            s.settimeout(5)
            stream = s.makefile("rb")
            while stream.readline() != b"\r\n":
                pass
            first = stream.readline()
            self.assertTrue(first.startswith(b"data: "), first)
            start = time.monotonic()
            self.assertEqual(self.scpi("SOUR1:FREQ 3.5MHZ;*OPC?"), "1")
            while True:
                line = stream.readline()
                if line.startswith(b"data: ") and b"3,500,000.00Hz" in line:
                    break
            self.assertLess(time.monotonic() - start, 0.5)


    def test_allow_ranges_apply(self):
        server = subprocess.Popen(
            [EMU, "--devices", "t", "--log", os.devnull, "--", CTL, "serve", "--listen",
             "127.0.0.1:0", "--no-vxi11", "--http", "0",
             "--allow", "10.0.0.0/8"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            port = int(server.stderr.readline().split()[2].split(":")[2].split("/")[0])
            with socket.create_connection(("127.0.0.1", port), 5) as s:
                s.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
                self.assertEqual(closed_answer(s), b"")
        finally:
            server.terminate()
            server.wait(20)
            server.stdout.close()
            server.stderr.close()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])

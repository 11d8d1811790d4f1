#!/usr/bin/env python3
"""tovrikctl serve under tovrik-emu, driven by PyVISA's pure-Python backend."""
import os
import select
import socket
import subprocess
import sys
import tempfile
import time
import unittest

try:
    import pyvisa
except ImportError:
    print("pyvisa is not installed")
    sys.exit(77)

EMU, CTL = sys.argv[1], sys.argv[2]


class Server:
    def __init__(self, devices="t", extra=(), stderr=None):
        self.folder = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.folder.name, "log")
        self.control = os.path.join(self.folder.name, "control")
        self.process = subprocess.Popen(
            [EMU, "--devices", devices, "--version", "6.1.5", "--log", self.log,
             "--control", self.control, "--", CTL, "serve", "--listen", "127.0.0.1:0", "--no-vxi11", *extra],
            stdout=subprocess.PIPE, stderr=stderr, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], 20)
        line = self.process.stdout.readline() if ready else ""
        if not line.startswith("listening on 127.0.0.1:"):
            self.process.kill()
            raise RuntimeError("server did not start: %r" % line)
        self.port = int(line.split()[2].split(":")[1])
        self.resource = "TCPIP::127.0.0.1::%d::SOCKET" % self.port

    def writes(self):
        with open(self.log) as f:
            return [l.split(" write ")[1].strip() for l in f if " write " in l]

    def control_command(self, command):
        with open(self.control, "w") as f:
            f.write(command + "\n")
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            with open(self.log) as f:
                if any(l.strip() == "control %s ok" % command for l in f):
                    return
            time.sleep(0.01)
        raise RuntimeError("no answer to " + command)

    def stop(self):
        self.process.terminate()
        status = self.process.wait(20)
        self.process.stdout.close()
        self.final_writes = self.writes()
        self.folder.cleanup()
        return status


def word(hz):
    return int(hz * 4294967296 / 180e6 + 0.5)


def report(w, control=1):
    return "00 %02X %02X %02X %02X %02X 00 00" % (
        w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF, w >> 24, control)


def sync(instrument):
    """Commands before it have reached the device once *OPC? answers."""
    assert instrument.query("*OPC?") == "1"


class ScpiOverVisa(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server("o,t")
        cls.rm = pyvisa.ResourceManager("@py")

    @classmethod
    def tearDownClass(cls):
        cls.rm.close()
        assert cls.server.process.poll() is None, "server died"
        assert cls.server.stop() == 0
        assert cls.server.final_writes[-1] == report(0), "no stop report on the way out"

    def open(self):
        instrument = self.rm.open_resource(self.server.resource)
        instrument.read_termination = "\n"
        instrument.write_termination = "\n"
        instrument.timeout = 5000
        return instrument

    def test_identity_frequency_and_output(self):
        inst = self.open()
        self.assertEqual(inst.query("*IDN?"), "TOVRIK,TOVRIK DDS,TVK00002,06/01/05")
        inst.write("*RST;OUTP ON;:SOUR:FREQ 12.5 MHZ")
        sync(inst)
        self.assertAlmostEqual(float(inst.query("FREQ?")), word(12.5e6) * 180e6 / 2**32, 6)
        self.assertEqual(inst.query("OUTP?"), "1")
        self.assertEqual(self.server.writes()[-1], report(word(12.5e6)))
        state, _, esr = inst.query("outp off;:outp?;:freq?;*ESR?").split(";")
        self.assertEqual((state, esr), ("0", "0"))
        self.assertEqual(self.server.writes()[-1], report(0))
        inst.close()

    def test_error_queue(self):
        inst = self.open()
        inst.write("*CLS")
        before = len(self.server.writes())
        inst.write("FROB:NICATE 1")
        inst.write("OUTP ON;FREQ 80000001")
        sync(inst)
        self.assertEqual(inst.query("SYST:ERR?"), '-113,"Undefined header"')
        self.assertEqual(inst.query("SYSTem:ERRor:NEXT?"), '-222,"Data out of range"')
        self.assertEqual(inst.query("SYST:ERR?"), '0,"No error"')
        # Only the OUTP ON reached the device; the out-of-range value never did.
        self.assertEqual(len(self.server.writes()), before + 1)
        inst.write("OUTP OFF")
        inst.close()

    def test_two_clients_have_their_own_queues_and_share_the_instrument(self):
        a, b = self.open(), self.open()
        a.write("*CLS")
        b.write("*CLS")
        a.write("BAD")
        b.write("FREQ 2 MHZ")
        self.assertEqual(b.query("SYST:ERR?"), '0,"No error"')
        self.assertEqual(a.query("SYST:ERR?"), '-113,"Undefined header"')
        self.assertAlmostEqual(float(a.query("FREQ?")), word(2e6) * 180e6 / 2**32, 6)
        a.close()
        b.close()

    def test_hostile_clients_do_not_stop_the_server(self):
        port = self.server.port
        idle = socket.create_connection(("127.0.0.1", port))          # never sends
        half = socket.create_connection(("127.0.0.1", port))
        half.sendall(b"OUTP ON;FREQ 3 MH")                            # killed mid-command
        half.close()
        garbage = socket.create_connection(("127.0.0.1", port))
        garbage.sendall(bytes(range(256)) * 40 + b"A" * 10000 + b"\nSYST:ERR?\n")
        answer = garbage.makefile("rb").readline()
        self.assertEqual(answer, b'-100,"Command error"\n')
        garbage.close()
        crowd = [socket.create_connection(("127.0.0.1", port)) for _ in range(20)]
        inst = self.open()  # may be one too many while the crowd is here
        # Those beyond the limit are closed at once: they read end of file.
        readable, _, _ = select.select(crowd, [], [], 1)
        crowd_closed = sum(1 for s in readable if s.recv(1) == b"")
        for s in crowd:
            s.close()
        self.assertGreater(crowd_closed, 0)
        inst.close()
        inst = self.open()
        self.assertEqual(inst.query("*OPC?"), "1")
        self.assertNotIn(report(word(3e6)), self.server.writes())
        inst.close()
        idle.close()

    def test_unplug_and_replug(self):
        inst = self.open()
        inst.write("*CLS;OUTP ON;FREQ 1 MHZ")
        sync(inst)
        self.server.control_command("unplug 1")
        inst.write("FREQ 4 MHZ")
        self.assertEqual(inst.query("SYST:ERR?"), '-241,"Hardware missing"')
        self.server.control_command("replug 1")
        inst.write("FREQ 5 MHZ")
        self.assertEqual(inst.query("SYST:ERR?"), '0,"No error"')  # found again
        self.assertEqual(self.server.writes()[-1], report(word(5e6)))
        inst.write("OUTP OFF")
        inst.close()

    def test_sweep(self):
        inst = self.open()
        inst.write("*CLS;OUTP OFF;FREQ:STAR 1 MHZ;STOP 2 MHZ;:SWE:POIN 3;DWEL 1 MS;SPAC LIN")
        sync(inst)
        before = len(self.server.writes())
        inst.write("INIT")
        deadline = time.monotonic() + 5
        while len(self.server.writes()) < before + 4 and time.monotonic() < deadline:
            time.sleep(0.01)
        self.assertEqual(self.server.writes()[before:],
                         [report(word(1e6)), report(word(1.5e6)), report(word(2e6)), report(0)])
        self.assertEqual(inst.query("SYST:ERR?"), '0,"No error"')
        inst.close()


class SilentClients(unittest.TestCase):
    # Clients that take every connection and never send give way to a new one once silent
    # for --idle seconds; a client that talks keeps its place.
    def test_a_new_client_replaces_the_longest_silent_one(self):
        # Three seconds of idleness: room for a loaded machine to open the 16 connections
        # before any of them counts as silent.
        server = Server("t", ["--idle", "3"])
        try:
            talker = socket.create_connection(("127.0.0.1", server.port))
            silent = [socket.create_connection(("127.0.0.1", server.port)) for _ in range(15)]
            refused = socket.create_connection(("127.0.0.1", server.port), timeout=10)
            self.assertEqual(refused.recv(1), b"")  # all taken, nobody silent long enough
            time.sleep(3.5)
            talker.sendall(b"*OPC?\n")
            self.assertEqual(talker.makefile("rb").readline(), b"1\n")
            newcomer = socket.create_connection(("127.0.0.1", server.port))
            newcomer.sendall(b"*IDN?\n")
            self.assertTrue(newcomer.makefile("rb").readline().startswith(b"TOVRIK"))
            talker.sendall(b"*OPC?\n")
            self.assertEqual(talker.makefile("rb").readline(), b"1\n")
            for s in silent + [talker, newcomer, refused]:
                s.close()
        finally:
            self.assertEqual(server.stop(), 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

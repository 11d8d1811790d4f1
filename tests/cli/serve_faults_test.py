#!/usr/bin/env python3
"""tovrikctl serve under faults, abuse and several clients, with raw sockets under tovrik-emu.

After every command, sweep end, failure or signal the device's last report is what OUTP? and
FREQ? describe; these tests check that at the device, byte for byte."""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from scpi_pyvisa_test import CTL, EMU, Server, report, word


class Client:
    def __init__(self, server):
        self.sock = socket.create_connection(("127.0.0.1", server.port))
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.reader = self.sock.makefile("rb")

    def send(self, line):
        self.sock.sendall(line.encode() + b"\n")

    def query(self, line):
        self.send(line)
        return self.reader.readline().decode().strip()

    def close(self):
        self.sock.close()


def device_writes(server, node):
    with open(server.log) as f:
        return [l.split(" write ")[1].strip() for l in f if l.startswith(node + " write ")]


def wait_for(predicate, timeout=5):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return False


def quiet(server, node, seconds=0.3):
    """The device's writes after a pause, once nothing more arrives."""
    before = None
    while True:
        time.sleep(seconds)
        now = device_writes(server, node)
        if now == before:
            return now
        before = now


def first_bytes(sock, n):
    """What the server answers first; empty once it closed the connection (reset or not)."""
    sock.settimeout(5)
    try:
        return sock.recv(n)
    except ConnectionResetError:
        return b""


def freq(hz):
    return float(word(hz) * 180e6 / 2**32)


class DeviceFollowsTheInstrument(unittest.TestCase):
    def setUp(self):
        self.server = Server("t,t", ["--idle", "1"])
        self.a, self.b = Client(self.server), Client(self.server)

    def tearDown(self):
        self.a.close()
        self.b.close()
        if self.server.process.poll() is None:
            self.server.stop()

    def test_an_unplugged_device_is_waited_for_and_never_replaced(self):
        self.a.query("OUTP ON;FREQ 1 MHZ;*OPC?")
        self.server.control_command("unplug 0")
        self.assertEqual(self.a.query("FREQ 2 MHZ;:SYST:ERR?"), '-241,"Hardware missing"')
        self.assertEqual(device_writes(self.server, "hidraw1"), [])  # the other TOVRIK
        self.server.control_command("replug 0")
        # Taken back without a command, in the state the instrument reports.
        self.assertTrue(wait_for(lambda: len(device_writes(self.server, "hidraw0")) >= 2))
        self.assertEqual(device_writes(self.server, "hidraw0")[-1], report(word(1e6)))
        frequency, output = self.a.query("FREQ?;OUTP?").split(";")
        self.assertEqual((float(frequency), output), (freq(1e6), "1"))
        self.assertEqual(device_writes(self.server, "hidraw1"), [])

    def test_a_refused_write_mid_sweep_returns_to_the_set_state_and_every_client_hears(self):
        self.a.query("OUTP ON;FREQ 3 MHZ;:FREQ:STAR 1 MHZ;STOP 2 MHZ;:SWE:POIN 5;DWEL 1 MS;"
                     ":INIT:CONT ON;*OPC?")
        time.sleep(0.1)
        self.server.control_command("refuse-write 0 on")
        time.sleep(0.3)
        self.server.control_command("refuse-write 0 off")
        writes = quiet(self.server, "hidraw0")
        self.assertEqual(writes[-1], report(word(3e6)))
        self.assertTrue(self.b.query("SYST:ERR?").startswith("-240,"))
        self.assertTrue(self.a.query("SYST:ERR?").startswith("-240,"))
        self.assertEqual(self.b.query("OUTP?;INIT:CONT?"), "1;0")

    def test_output_off_and_suspend_end_a_sweep_and_are_the_last_report(self):
        for command, last in (("OUTP OFF", report(0)), ("SYST:SUSP", report(0, 5))):
            self.a.query("OUTP ON;:FREQ:STAR 1 MHZ;STOP 2 MHZ;:SWE:POIN 5;DWEL 1 MS;"
                         ":INIT:CONT ON;*OPC?")
            time.sleep(0.1)
            self.assertEqual(self.b.query(command + ";:OUTP?"), "0")
            writes = quiet(self.server, "hidraw0")
            self.assertEqual(writes[-1], last, command)

    def test_a_sweep_with_the_output_off_has_it_on_until_it_ends(self):
        self.a.query("OUTP OFF;:FREQ:STAR 1 MHZ;STOP 2 MHZ;:SWE:POIN 5;DWEL 1 MS;:INIT:CONT ON;*OPC?")
        self.assertEqual(self.b.query("OUTP?"), "1")
        self.assertEqual(self.b.query("ABOR;:OUTP?"), "0")
        self.assertEqual(quiet(self.server, "hidraw0")[-1], report(0))

    def test_a_stalled_write_blocks_nobody_else_and_is_recovered_from(self):
        self.a.query("OUTP ON;FREQ 1 MHZ;*OPC?")
        self.server.control_command("stall-write 0 on")
        self.a.send("FREQ 4 MHZ")
        time.sleep(0.2)
        start = time.monotonic()
        self.assertTrue(self.b.query("*IDN?").startswith("TOVRIK,"))
        self.assertLess(time.monotonic() - start, 1)
        self.server.control_command("stall-write 0 off")
        # The timed-out write is tried once more on a fresh open, which goes through.
        self.assertEqual(self.a.query("SYST:ERR?;:FREQ?").split(";")[0], '0,"No error"')
        self.assertEqual(quiet(self.server, "hidraw0")[-1], report(word(4e6)))

    def test_lines_waiting_on_a_stalled_device_do_not_count_against_the_line_deadline(self):
        self.a.query("OUTP ON;FREQ 1 MHZ;*OPC?")
        self.server.control_command("stall-write 0 on")
        # More lines than are read ahead, and the start of one more: reading stops there.
        self.a.sock.sendall(b"FREQ 4 MHZ\n" + b"*OPC?\n" * 5 + b"FRE")
        time.sleep(3.6)
        self.server.control_command("stall-write 0 off")
        self.a.sock.sendall(b"Q?\n")
        self.assertEqual([self.a.reader.readline() for _ in range(5)], [b"1\n"] * 5)
        self.assertEqual(float(self.a.reader.readline()), freq(4e6))

    def test_a_long_line_is_interleaved_with_other_clients(self):
        self.a.query("OUTP ON;*OPC?")
        long_line = ";".join("FREQ %d" % (1000000 + i) for i in range(300))
        self.a.send(long_line + ";*OPC?")
        time.sleep(0.05)
        self.assertTrue(self.b.query("*IDN?").startswith("TOVRIK,"))
        done_before = len(device_writes(self.server, "hidraw0"))
        self.assertEqual(self.a.reader.readline(), b"1\n")
        self.assertGreater(len(device_writes(self.server, "hidraw0")), done_before)


class Abuse(unittest.TestCase):
    def setUp(self):
        self.server = Server("t")

    def tearDown(self):
        if self.server.process.poll() is None:
            self.server.stop()

    def test_an_http_request_executes_nothing_and_is_closed(self):
        for first in (b"POST /x HTTP/1.1\r\n", b"Host: 127.0.0.1\r\n",
                      b"OPTIONS * HTTP/1.0\r\n"):
            s = socket.create_connection(("127.0.0.1", self.server.port))
            s.sendall(first + b"Content-Type: text/plain\r\n\r\nOUTP ON\nFREQ 80 MHZ\n")
            self.assertEqual(first_bytes(s, 1), b"")
            s.close()
        self.assertEqual(self.server.writes(), [])

    def test_tricklers_never_lock_out_a_new_client(self):
        stop = threading.Event()

        def trickle():
            while not stop.is_set():
                try:
                    with socket.create_connection(("127.0.0.1", self.server.port)) as s:
                        while not stop.is_set():
                            s.sendall(b"*")
                            time.sleep(0.5)
                except OSError:
                    time.sleep(0.05)

        threads = [threading.Thread(target=trickle) for _ in range(20)]
        for t in threads:
            t.start()
        try:
            time.sleep(1)
            for _ in range(5):
                start = time.monotonic()
                c = Client(self.server)
                c.sock.settimeout(5)
                self.assertTrue(c.query("*IDN?").startswith("TOVRIK,"))
                self.assertLess(time.monotonic() - start, 2)
                c.close()
                time.sleep(0.5)
        finally:
            stop.set()
            for t in threads:
                t.join()


class Allow(unittest.TestCase):
    def test_clients_from_elsewhere_are_closed_at_once(self):
        for allow, answered in (("10.0.0.0/8", False), ("127.0.0.0/8", True)):
            server = Server("t", ["--allow", "192.0.2.1", "--allow", allow])
            try:
                s = socket.create_connection(("127.0.0.1", server.port))
                try:
                    s.sendall(b"OUTP ON;*IDN?\n")
                except ConnectionResetError:
                    pass
                self.assertEqual(first_bytes(s, 6) == b"TOVRIK", answered, allow)
                s.close()
                self.assertEqual(len(server.writes()), 1 if answered else 0)
            finally:
                server.stop()


class Signals(unittest.TestCase):
    def test_hangup_stops_with_the_output_off(self):
        server = Server("t")
        c = Client(server)
        c.query("OUTP ON;FREQ 1 MHZ;*OPC?")
        server.process.send_signal(signal.SIGHUP)
        self.assertEqual(server.process.wait(20), 0)
        self.assertEqual(server.writes()[-1], report(0))
        c.close()
        server.stop()

    def test_ctrl_c_stops_with_the_output_off_and_exits_130(self):
        server = Server("t")
        c = Client(server)
        c.query("OUTP ON;FREQ 1 MHZ;*OPC?")
        server.process.send_signal(signal.SIGINT)
        self.assertEqual(server.process.wait(20), 130)
        self.assertEqual(server.writes()[-1], report(0))
        c.close()
        server.stop()

    def test_a_sweep_stopped_by_ctrl_c_exits_130_with_the_output_off(self):
        with tempfile.TemporaryDirectory() as folder:
            log = os.path.join(folder, "log")
            process = subprocess.Popen(
                [EMU, "--devices", "t", "--log", log, "--", CTL, "sweep", "1M", "2M",
                 "--points", "10", "--dwell", "10ms", "--forever"], stdout=subprocess.DEVNULL)
            def writing():
                if not os.path.exists(log):
                    return False
                with open(log) as f:
                    return " write " in f.read()
            self.assertTrue(wait_for(writing))
            process.send_signal(signal.SIGINT)
            self.assertEqual(process.wait(20), 130)
            with open(log) as f:
                self.assertEqual([l for l in f if " write " in l][-1].split(" write ")[1].strip(),
                                 report(0))

    def test_each_close_by_a_limit_is_logged_and_counted_at_exit(self):
        with tempfile.TemporaryFile("w+") as err:
            server = Server("t", ["--allow", "10.0.0.0/8"], stderr=err)
            c = Client(server)
            self.assertEqual(first_bytes(c.sock, 1), b"")
            c.close()
            self.assertEqual(server.stop(), 0)
            err.seek(0)
            lines = err.read().splitlines()
        self.assertEqual(len([l for l in lines if l.startswith("tovrikctl: closed 127.0.0.1:")
                              and l.endswith(": not allowed")]), 1)
        self.assertIn("tovrikctl: connections closed by a limit: 1 (not allowed 1)", lines)

    def test_a_stop_report_that_cannot_be_sent_fails_the_exit(self):
        server = Server("t")
        c = Client(server)
        c.query("OUTP ON;*OPC?")
        server.control_command("unplug 0")
        self.assertNotEqual(server.stop(), 0)
        c.close()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

#!/usr/bin/env python3
"""tovrikctl serve where two threads touch one channel: a replug in one control write, a
command at a sweep's end, a stalled device at the stop. After every storm the device's last
report is what OUTP? and FREQ? describe. TOVRIK_RACE_TRIALS scales the trials; each test
prints its count of failed trials, so that the same file measures a build's race rate."""
import os
import random
import signal
import sys
import threading
import time
import unittest

from scpi_pyvisa_test import Server, report, word
from serve_faults_test import Client, device_writes, wait_for

SCALE = float(os.environ.get("TOVRIK_RACE_TRIALS", "1"))


def client(server):
    c = Client(server)
    c.sock.settimeout(10)  # a query nobody answers fails the trial instead of hanging
    return c


def trials(n):
    return max(1, int(n * SCALE))


def expected_report(client, channel=""):
    """The report OUTP? and FREQ? describe (the power-saving one is not used here)."""
    frequency, output = client.query("SOUR%s:FREQ?;:OUTP%s?" % (channel, channel)).split(";")
    return report(word(float(frequency))) if output == "1" else report(0)


def settles_at(server, node, expected, seconds=2):
    """The device's last report becomes `expected` and stays so."""
    last = lambda: (device_writes(server, node) or [None])[-1]
    if not wait_for(lambda: last() == expected, seconds):
        return False
    time.sleep(0.05)
    return last() == expected


class Races(unittest.TestCase):
    def test_a_replug_in_one_write_never_loses_the_channel(self):
        server = Server("t,t", ["--all"])
        a, b = client(server), client(server)
        try:
            self.assertEqual(a.query("SOUR1:FREQ 1 MHZ;:OUTP1 ON;*OPC?"), "1")
            stop = threading.Event()

            def setter():
                hz = 1_000_000
                try:
                    while not stop.is_set():
                        hz += 1000
                        b.query("SOUR1:FREQ %d;*OPC?" % hz)
                except OSError:
                    pass

            lost = 0
            runs = trials(20)
            for cycle in range(runs):
                thread = threading.Thread(target=setter)
                thread.start()
                time.sleep(random.uniform(0, 0.01))
                with open(server.control, "w") as f:
                    f.write("unplug 0\nreplug 0\n")
                time.sleep(0.05)
                stop.set()
                thread.join()
                stop.clear()
                try:
                    back = wait_for(lambda: '"TVK00001",1' in a.query("INST:CAT:FULL?"), 5)
                    if not back or not settles_at(server, "hidraw0", expected_report(a, "1")):
                        lost += 1
                    a.query("*CLS;*OPC?")  # -241 while it was away is expected
                except OSError:
                    lost += runs - cycle
                    print("no answer after cycle %d" % cycle, file=sys.stderr)
                    break
            print("replug cycles lost: %d of %d" % (lost, runs), file=sys.stderr)
            self.assertEqual(lost, 0)
            self.assertEqual(a.query("OUTP1 OFF;*OPC?"), "1")
            self.assertTrue(settles_at(server, "hidraw0", report(0)))
        finally:
            a.close()
            b.close()
            server.stop()

    def test_a_sweep_replugged_in_one_write_can_be_aborted(self):
        server = Server("t,t", ["--all"])
        a = client(server)
        try:
            lost = 0
            runs = trials(8)
            for n in range(runs):
                a.query("SOUR2:FREQ %d;:OUTP2 ON;:SOUR2:FREQ:STAR 1 MHZ;STOP 2 MHZ;"
                        ":SOUR2:SWE:POIN 20;DWEL 5 MS;:INIT2:CONT ON;*OPC?" % (3_000_000 + n))
                time.sleep(random.uniform(0.01, 0.05))
                with open(server.control, "w") as f:
                    f.write("unplug 1\nreplug 1\n")
                try:
                    back = wait_for(lambda: '"TVK00002",2' in a.query("INST:CAT:FULL?"), 5)
                    a.query("ABOR2;*OPC?")
                    if not back or not settles_at(server, "hidraw1", expected_report(a, "2")):
                        lost += 1
                    a.query("*CLS;*OPC?")
                except OSError:
                    lost += runs - n
                    break
            print("sweeping replug cycles lost: %d of %d" % (lost, runs), file=sys.stderr)
            self.assertEqual(lost, 0)
        finally:
            a.close()
            server.stop()

    def test_a_command_at_a_sweeps_end_is_what_the_device_keeps(self):
        server = Server("t")
        c = client(server)
        try:
            c.query("OUTP ON;:FREQ:STAR 1 MHZ;STOP 2 MHZ;:SWE:POIN 2;DWEL 1 MS;*OPC?")
            mismatched = 0
            runs = trials(60)
            for n in range(runs):
                hz = 3_000_000 + n * 1000
                c.query("INIT;*OPC?")
                time.sleep(random.uniform(0, 0.004))
                c.query("FREQ %d;*OPC?" % hz)
                if not settles_at(server, "hidraw0", report(word(hz)), 1):
                    mismatched += 1
            print("sweep-end trials mismatched: %d of %d" % (mismatched, runs), file=sys.stderr)
            self.assertEqual(mismatched, 0)
        finally:
            c.close()
            server.stop()

    def test_a_stalled_device_delays_no_other_channels_stop(self):
        server = Server("t,t,t", ["--all"])
        c = Client(server)
        try:
            setup = ";".join(":SOUR%d:FREQ:STAR 1 MHZ;STOP 2 MHZ;:SOUR%d:SWE:POIN 50;DWEL 1 MS;"
                             ":INIT%d:CONT ON" % (n, n, n) for n in (1, 2, 3))
            self.assertEqual(c.query(setup + ";*OPC?"), "1")
            server.control_command("stall-write 0 on")
            def stalled():
                with open(server.log) as f:
                    return any(l.startswith("hidraw0 write stalled") for l in f)
            self.assertTrue(wait_for(stalled))
            at_signal = {n: len(device_writes(server, n)) for n in ("hidraw1", "hidraw2")}
            server.process.send_signal(signal.SIGTERM)
            self.assertNotEqual(server.process.wait(30), 0)  # channel 1 took no stop report
            for node, before in at_signal.items():
                writes = device_writes(server, node)
                self.assertEqual(writes[-1], report(0), node)
                # Stopped at once, not after the stalled channel gave up (thousands of points).
                self.assertLess(len(writes) - before, 200, node)
        finally:
            c.close()
            server.stop()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

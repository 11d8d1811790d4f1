#!/usr/bin/env python3
"""pymeasure's Agilent 8257D and 33220A drivers, unchanged, against tovrikctl serve --all under
tovrik-emu with two TOVRIKs: step sweeps, continuous sweeps, bus triggers and the error queue."""
import os
import select
import subprocess
import sys
import tempfile
import time
import unittest

try:
    from pymeasure.instruments.agilent import Agilent8257D, Agilent33220A
except ImportError:
    print("pymeasure is not installed")
    sys.exit(77)

EMU, CTL = sys.argv[1], sys.argv[2]
STOP = "00 00 00 00 00 01 00 00"


def word(hz):
    return int(hz * 4294967296 / 180e6 + 0.5)


def report(w):
    return "00 %02X %02X %02X %02X 01 00 00" % (w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF, w >> 24)


class Server:
    def __init__(self):
        self.folder = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.folder.name, "log")
        env = dict(os.environ, XDG_STATE_HOME=self.folder.name)
        self.process = subprocess.Popen(
            [EMU, "--devices", "t,t", "--timestamps", "--log", self.log, "--", CTL, "serve",
             "--all", "--listen", "127.0.0.1:0", "--no-vxi11"], stdout=subprocess.PIPE, text=True, env=env)
        ready, _, _ = select.select([self.process.stdout], [], [], 20)
        line = self.process.stdout.readline() if ready else ""
        if not line.startswith("listening on 127.0.0.1:"):
            self.process.kill()
            raise RuntimeError("server did not start: %r" % line)
        self.resource = "TCPIP::127.0.0.1::%s::SOCKET" % line.split()[2].split(":")[1]

    def writes(self, device):
        """(seconds, report) of every write to hidraw<device>."""
        with open(self.log) as f:
            parts = [l.split(" ", 3) for l in f]
        return [(float(p[0]), p[3].strip()) for p in parts
                if len(p) == 4 and p[2] == "write" and p[1] == "hidraw%d" % device]

    def stop(self):
        self.process.terminate()
        status = self.process.wait(20)
        self.process.stdout.close()
        self.folder.cleanup()
        return status


def driver(cls, server):
    return cls(server.resource, visa_library="@py", read_termination="\n",
               write_termination="\n", timeout=10000)


class LabDrivers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server()

    @classmethod
    def tearDownClass(cls):
        assert cls.server.process.poll() is None, "server died"
        assert cls.server.stop() == 0

    def device_of(self, hz):
        """The hidraw number that was sent `hz`."""
        with open(self.server.log) as f:
            for line in f:
                p = line.split(" ", 3)
                if len(p) == 4 and p[2] == "write" and p[3].strip() == report(word(hz)):
                    return int(p[1][len("hidraw"):])
        self.fail("nothing sent %g Hz" % hz)

    def test_step_sweep_sends_the_points_at_the_dwell(self):
        gen = driver(Agilent8257D, self.server)
        gen.write("*RST")
        gen.config_step_sweep()
        gen.start_frequency = 1e6
        gen.stop_frequency = 2e6
        gen.step_points = 11
        gen.dwell_time = 0.005
        gen.center_frequency = 1.5e6  # the span stays
        self.assertEqual((gen.start_frequency, gen.stop_frequency), (1e6, 2e6))
        gen.single_sweep()
        self.assertEqual(gen.ask("*OPC?").strip(), "1")  # once the sweep is over
        points = [1e6 + k * 1e5 for k in range(11)]
        device = self.device_of(points[-1])
        writes = self.server.writes(device)
        wanted = [report(word(hz)) for hz in points] + [STOP]
        start = max(i for i in range(len(writes)) if writes[i][1] == wanted[0])
        sweep = writes[start:start + len(wanted)]
        self.assertEqual([w for _, w in sweep], wanted)
        # Point k on its deadline k * 5 ms, never early; late by the load at most, not adding up.
        offsets = [t - sweep[0][0] for t, _ in sweep]
        self.assertTrue(all(o > k * 0.005 - 0.0015 for k, o in enumerate(offsets)), offsets)
        self.assertLess(offsets[-1], 11 * 0.005 + 0.05, offsets)
        self.assertEqual(gen.ask("SYST:ERR:ALL?").strip(), '0,"No error"')

    def test_continuous_sweep_starts_and_stops(self):
        gen = driver(Agilent8257D, self.server)
        gen.write("*RST;:INST:NSEL 2")
        gen.config_step_sweep()
        gen.start_frequency, gen.stop_frequency = 3e6, 4e6
        gen.step_points, gen.dwell_time = 2, 0.001
        gen.start_step_sweep()
        time.sleep(0.05)
        self.assertEqual(gen.ask("STAT:OPER:COND?").strip(), "8")
        gen.stop_step_sweep()
        deadline = time.monotonic() + 5
        while gen.ask("STAT:OPER:COND?").strip() != "0":
            self.assertLess(time.monotonic(), deadline)
        device = self.device_of(4e6)
        self.assertGreater(sum(w == report(word(4e6)) for _, w in self.server.writes(device)), 2)
        self.assertEqual(self.server.writes(device)[-1][1], STOP)

    def test_bus_trigger_and_error_queue(self):
        wfg = driver(Agilent33220A, self.server)
        wfg.write("*RST;:FREQ:STAR 5e6;STOP 6e6;:SWE:POIN 3;DWEL 0.02")
        wfg.trigger_source = "BUS"
        self.assertEqual(wfg.trigger_source, "BUS")
        wfg.write("INIT")
        self.assertEqual(wfg.ask("STAT:OPER:COND?").strip(), "0")  # armed, waiting for *TRG
        began = time.monotonic()
        wfg.trigger()
        self.assertEqual(wfg.ask("*OPC?").strip(), "1")
        self.assertGreater(time.monotonic() - began, 0.05)  # *WAI held on until the end
        device = self.device_of(6e6)
        self.assertEqual(self.server.writes(device)[-1][1], STOP)
        self.assertEqual(wfg.check_errors(), [])
        wfg.write("TRIG:SOUR EXT;BOGUS")
        self.assertEqual(len(wfg.check_errors()), 2)
        self.assertEqual(wfg.check_errors(), [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])

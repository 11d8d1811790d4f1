#!/usr/bin/env python3
"""tovrikctl serve --all under tovrik-emu: a bank of TOVRIKs as channels, driven by PyVISA."""
import os
import select
import socket
import stat
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

from scpi_pyvisa_test import EMU, CTL, report, word  # noqa: E402

# Interfaces 1, 3, 4 and 5 are TOVRIKs (serials TVK00002, ...); 5 is unplugged before the
# server starts, so it arrives later.
DEVICES = "o,t,o,t,t,t"
LATE = 5


def wait_for(predicate, seconds=5):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return False


class Bank(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.log = os.path.join(cls.folder.name, "log")
        cls.control = os.path.join(cls.folder.name, "control")
        gate = os.path.join(cls.folder.name, "gate")
        # The server waits for the gate, so that the late device is away when it starts.
        cls.process = subprocess.Popen(
            [EMU, "--devices", DEVICES, "--version", "6.1.5", "--log", cls.log, "--timestamps",
             "--control", cls.control, "--", "sh", "-c",
             'while [ ! -e "$0" ]; do sleep 0.02; done; exec "$1" serve --all --listen 127.0.0.1:0 --no-vxi11',
             gate, CTL], stdout=subprocess.PIPE, text=True)
        assert wait_for(lambda: os.path.exists(cls.control)
                        and stat.S_ISFIFO(os.stat(cls.control).st_mode), 20), "no control FIFO"
        cls.control_command("unplug %d" % LATE)
        open(gate, "w").close()
        ready, _, _ = select.select([cls.process.stdout], [], [], 20)
        line = cls.process.stdout.readline() if ready else ""
        if not line.startswith("listening on 127.0.0.1:"):
            cls.process.kill()
            raise RuntimeError("server did not start: %r" % line)
        port = cls.port = int(line.split()[2].split(":")[1])
        cls.rm = pyvisa.ResourceManager("@py")
        cls.inst = cls.rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port)
        cls.inst.read_termination = cls.inst.write_termination = "\n"
        cls.inst.timeout = 5000

    @classmethod
    def tearDownClass(cls):
        cls.inst.close()
        cls.rm.close()
        assert cls.process.poll() is None, "server died"
        cls.process.terminate()
        assert cls.process.wait(20) == 0
        cls.process.stdout.close()
        cls.folder.cleanup()

    @classmethod
    def control_command(cls, command):
        with open(cls.control, "w") as f:
            f.write(command + "\n")
        def answered():
            with open(cls.log) as f:
                return any(l.split(" ", 1)[1].strip() == "control %s ok" % command for l in f)
        assert wait_for(answered, 10), command

    def setUp(self):
        # Each test starts from every present channel reset, in any order.
        catalog = self.ask("INST:CAT:FULL?")
        channels = [int(n) for n in catalog.split(",")[1::2]] if catalog != '""' else []
        self.ask(";".join(":INST:NSEL %d;*RST" % n for n in channels) + ";:INST:NSEL 1;*CLS;*OPC?")

    @classmethod
    def ensure_late(cls):
        """The device unplugged at the start has arrived (channel 4)."""
        if "TVK00006" not in cls.inst.query("INST:CAT:FULL?"):
            cls.control_command("replug %d" % LATE)

    def logged(self, text):
        with open(self.log) as f:
            return any(text in l for l in f)

    def writes(self, position):
        """(time, bytes) of every write to the interface at `position`."""
        prefix = "hidraw%d write " % position
        out = []
        with open(self.log) as f:
            for l in f:
                stamp, _, rest = l.partition(" ")
                if rest.startswith(prefix):
                    out.append((float(stamp), rest[len(prefix):].strip()))
        return out

    def ask(self, line):
        return self.inst.query(line)

    def errors(self):
        found = []
        while (e := self.ask("SYST:ERR?")) != '0,"No error"':
            found.append(e)
        return found

    def test_1_catalog_and_identity(self):
        # Numbered in enumeration order; the late one, once there, after them.
        self.assertIn(self.ask("INST:CAT:FULL?"), ('"TVK00002",1,"TVK00004",2,"TVK00005",3',
                                                   '"TVK00002",1,"TVK00004",2,"TVK00005",3,'
                                                   '"TVK00006",4'))
        self.assertEqual(self.ask("*IDN?"), "TOVRIK,TOVRIK DDS,TVK00002,06/01/05")

    def test_2_a_suffix_reaches_only_its_channel(self):
        before = {p: len(self.writes(p)) for p in (1, 3, 4)}
        self.assertEqual(self.ask("SOUR2:FREQ 1MHZ;:OUTP2 ON;*OPC?"), "1")
        self.assertEqual([w for _, w in self.writes(3)[before[3]:]], [report(word(1e6))])
        self.assertEqual([len(self.writes(p)) for p in (1, 4)], [before[1], before[4]])
        # The selected channel takes suffix-less commands.
        self.assertEqual(self.ask("INST:NSEL 3;:FREQ 3MHZ;OUTP ON;*OPC?"), "1")
        self.assertEqual(self.writes(4)[-1][1], report(word(3e6)))
        self.assertEqual(self.ask("INST:NSEL 1;:OUTP?;:OUTP2?;:OUTP3?"), "0;1;1")
        self.assertEqual(self.errors(), [])

    def test_3_replugged_keeps_its_number_and_the_others_work_meanwhile(self):
        self.assertEqual(self.ask("SOUR2:FREQ 1MHZ;:OUTP2 ON;*OPC?"), "1")
        self.control_command("unplug 3")
        self.assertTrue(wait_for(lambda: "TVK00004" not in self.ask("INST:CAT:FULL?")))
        self.assertEqual(self.ask("SOUR1:FREQ 2MHZ;:OUTP1 ON;:OUTP2 OFF;*OPC?"), "1")
        self.assertEqual(self.writes(1)[-1][1], report(word(2e6)))
        self.assertEqual(self.errors(), ['-241,"Hardware missing; no TOVRIK on channel 2"'])
        self.assertEqual(self.ask("OUTP2?"), "1")  # the refused OFF changed nothing
        self.control_command("replug 3")
        self.assertTrue(wait_for(lambda: '"TVK00004",2' in self.ask("INST:CAT:FULL?")))
        # Back, it gets the state it had: output on at 1 MHz.
        self.assertTrue(wait_for(lambda: self.writes(3)[-1][1] == report(word(1e6))))
        self.assertEqual(self.ask("OUTP2 OFF;*OPC?"), "1")
        self.assertEqual(self.writes(3)[-1][1], report(0))

    def test_4_a_device_plugged_in_later_takes_the_next_number(self):
        self.ensure_late()
        self.assertTrue(wait_for(lambda: self.ask("INST:CAT:FULL?").endswith('"TVK00006",4')))
        self.assertEqual(self.ask("SOUR4:FREQ 4MHZ;:OUTP4 ON;*OPC?"), "1")
        self.assertEqual(self.writes(LATE)[-1][1], report(word(4e6)))

    def test_5_sweeps_on_every_channel_at_once(self):
        self.ensure_late()
        self.assertTrue(wait_for(lambda: self.ask("INST:CAT:FULL?").endswith('"TVK00006",4')))
        positions = [1, 3, 4, LATE]
        before = {p: len(self.writes(p)) for p in positions}
        setup = ";".join(":SOUR%d:FREQ:STAR %d;STOP %d;:SOUR%d:SWE:POIN 50;DWEL 2MS"
                         % (n, n * 1e6, n * 1e6 + 49e3, n) for n in range(1, 5))
        self.ask(setup + ";*OPC?")
        self.ask(";".join(":INIT%d" % n for n in range(1, 5)) + ";*OPC?")
        self.assertTrue(wait_for(lambda: all(len(self.writes(p)) >= before[p] + 51
                                             for p in positions)))
        spans = []
        for n, p in enumerate(positions, 1):
            sweep = self.writes(p)[before[p]:]
            points = [w for _, w in sweep[:50]]
            self.assertEqual(points, [report(word(n * 1e6 + k * 1e3)) for k in range(50)], p)
            spans.append((sweep[0][0], sweep[49][0]))
        # Each ran while every other one did.
        self.assertLess(max(s for s, _ in spans), min(e for _, e in spans))
        self.assertEqual(self.errors(), [])

    def test_6_a_stalled_or_refusing_device_holds_up_no_other_channel(self):
        self.control_command("stall-write 3 on")
        self.control_command("refuse-write 4 on")
        try:
            with socket.create_connection(("127.0.0.1", self.port)) as other:
                other.sendall(b"OUTP2 ON;*OPC?\n")  # waits for the stalled device
                self.assertTrue(wait_for(lambda: self.logged("hidraw3 write stalled")))
                self.assertEqual(self.ask("SOUR1:FREQ 5MHZ;:OUTP1 ON;:OUTP3 ON;*OPC?"), "1")
                # Answered while channel 2's write is still held: it waited for nothing.
                other.setblocking(False)
                with self.assertRaises(BlockingIOError):
                    other.recv(1)
                other.setblocking(True)
                self.assertEqual(self.writes(1)[-1][1], report(word(5e6)))
                self.assertEqual([e.split(";")[0] for e in self.errors()],
                                 ['-240,"Hardware error'])
                self.control_command("stall-write 3 off")
                self.assertEqual(other.makefile("rb").readline(), b"1\n")
        finally:
            self.control_command("stall-write 3 off")
            self.control_command("refuse-write 4 off")

    def test_7_a_sweep_that_loses_its_device_names_the_channel(self):
        self.assertEqual(self.ask("OUTP1 ON;:OUTP2 ON;:OUTP3 ON;*OPC?"), "1")
        self.assertEqual(self.ask("SOUR3:SWE:POIN 50;DWEL 2MS;:INIT3:CONT ON;*OPC?"), "1")
        self.control_command("unplug 4")
        self.assertTrue(wait_for(lambda: self.ask("OUTP3?;:INIT3:CONT?") == "1;0"
                                 and self.ask("SOUR3:FREQ?") != ""))
        self.assertIn('-241,"Hardware missing; channel 3"', self.errors())
        self.assertEqual(self.ask("OUTP1?;:OUTP2?"), "1;1")  # the others untouched
        self.control_command("replug 4")
        self.assertTrue(wait_for(lambda: '"TVK00005",3' in self.ask("INST:CAT:FULL?")))

    def test_8_a_device_replugged_at_once_at_its_path_gets_its_state_again(self):
        # Both within one rescan period: only the system's word of the removal shows it.
        self.assertEqual(self.ask("SOUR1:FREQ 6MHZ;:OUTP1 ON;*OPC?"), "1")
        count = len(self.writes(1))
        with open(self.control, "w") as f:
            f.write("unplug 1\nreplug 1\n")
        self.assertTrue(wait_for(lambda: len(self.writes(1)) > count))
        self.assertEqual(self.writes(1)[count][1], report(word(6e6)))
        self.assertEqual(self.ask("INST:CAT:FULL?").split(",")[:2], ['"TVK00002"', "1"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

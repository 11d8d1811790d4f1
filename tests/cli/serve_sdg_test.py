#!/usr/bin/env python3
"""serve --dialect sdg under tovrik-emu, driven as a Siglent oscilloscope's Bode plot drives its
generator: GETPORT over TCP (SDS1000X-E) or UDP (SDS800X-HD), then one VXI-11 connection per
command. Runs in a user and network namespace of its own, for port 111; skipped where such
namespaces are off."""
import os
import select
import struct
import subprocess
import sys
import tempfile
import unittest

EMU, CTL = sys.argv[1], sys.argv[2]

# The RPC helpers; the import runs this script again in a user and network namespace of its
# own (or exits 77).
import serve_vxi11_test as vxi  # noqa: E402


def getport_udp():
    reply = vxi.udp_call(vxi.call(7, vxi.PMAP, 2, 3, struct.pack(">4I", vxi.CORE, 1, 6, 0)))
    return struct.unpack(">I", vxi.parse_reply(reply)[2])[0]


def getport_tcp():
    return vxi.getport(vxi.CORE, 1, 6)


def command(text, getport):
    """As the scope sends each command: a connection and a link of its own; its answer."""
    rpc = vxi.Rpc(getport())
    error, lid, _, _ = rpc.link(b"inst0")
    assert error == 0 and rpc.write(lid, text.encode())[0] == 0
    answer = rpc.read(lid)[2].decode().rstrip("\n") if text.endswith("?") else None
    assert rpc.core(vxi.DESTROY, struct.pack(">I", lid)) == (0,)
    rpc.close()
    return answer


class BodePlot(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.log = os.path.join(cls.folder.name, "log")
        cls.process = subprocess.Popen(
            [EMU, "--devices", "t,t", "--log", cls.log, "--", CTL, "serve", "--all",
             "--dialect", "sdg", "--listen", "0.0.0.0:0", "--vxi11-port", "0"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ready, _, _ = select.select([cls.process.stdout], [], [], 20)
        line = cls.process.stdout.readline() if ready else ""
        if not line.startswith("listening on"):
            cls.process.kill()
            raise RuntimeError("server did not start: %r" % line)

    @classmethod
    def tearDownClass(cls):
        cls.process.terminate()
        assert cls.process.wait(20) == 0
        cls.process.stdout.close()
        cls.process.stderr.close()
        cls.folder.cleanup()

    def writes(self):
        """Each device's reports, by its name in the log."""
        devices = {}
        with open(self.log) as f:
            for name, _, report in (l.strip().partition(" write ") for l in f if " write " in l):
                devices.setdefault(name, []).append(report)
        return devices

    def sweep(self, channel, getport, points):
        c = "C%d:" % channel
        self.assertEqual(command("IDN-SGLT-PRI?", getport), "IDN-SGLT-PRI SDG0000X")
        command(c + "OUTP LOAD,50;BSWV WVTP,SINE,PHSE,0,FRQ,15000,AMP,2,OFST,0;OUTP ON", getport)
        wave = command(c + "BSWV?", getport)
        self.assertTrue(wave.startswith(c + "BSWV WVTP,SINE,FRQ,"), wave)
        self.assertIn(",AMP,2V,OFST,0V,", wave)
        self.assertTrue(wave.endswith(",PHSE,0"), wave)
        for hz in points:
            command(c + "BSWV FRQ,%s" % hz, getport)
        command(c + "OUTP OFF", getport)
        self.assertEqual(command(c + "OUTP?", getport), c + "OUTP OFF,LOAD,50,PLRT,NOR")
        # The server starts each device with the output off.
        tones = [vxi.report(vxi.word(hz)) for hz in [15000] + points]
        return [vxi.report(0)] + tones + [vxi.report(0)]

    def test_both_portmappers_and_both_channels_reach_their_devices(self):
        one = self.sweep(1, getport_tcp, [10, 1000.5, 100000, 80000000])
        two = self.sweep(2, getport_udp, [20, 2e6])
        # Above the limit: refused as SCPI's FREQ refuses it, and nothing is sent.
        # Each command's link has its own error queue, so the same line reads it.
        answer = command("C2:BSWV FRQ,80000001;:SYST:ERR?", getport_udp)
        self.assertTrue(answer.startswith("-222,"), answer)
        self.assertEqual(sorted(self.writes().values()), sorted([one, two]))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])

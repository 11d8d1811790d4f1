#!/usr/bin/env python3
"""tovrikctl serve's VXI-11 front end under tovrik-emu: pyvisa-py, and RPC calls by hand.

Runs in a user and network namespace of its own, where port 111 can be bound without root
and nothing else listens; skipped where such namespaces are off."""
import os
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

EMU, CTL = sys.argv[1], sys.argv[2]

if os.environ.get("TOVRIK_IN_NETNS") != "1":
    probe = subprocess.run(["unshare", "-rn", "true"], capture_output=True)
    if probe.returncode != 0:
        print("user and network namespaces are off here: " + probe.stderr.decode().strip())
        sys.exit(77)
    os.environ["TOVRIK_IN_NETNS"] = "1"
    os.execvp("unshare", ["unshare", "-rn", "sh", "-c", 'ip link set lo up && exec "$0" "$@"',
                          sys.executable, *sys.argv])

CORE, ABORT, PMAP = 0x0607AF, 0x0607B0, 100000
CREATE, WRITE, READ, STB, TRIGGER, CLEAR, REMOTE, LOCAL, LOCK, UNLOCK = range(10, 20)
ENABLE_SRQ, DOCMD, DESTROY = 20, 22, 23
END, WAITLOCK, TERMCHR = 8, 1, 0x80


class Server:
    def __init__(self, core_port=0, extra=()):
        self.folder = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.folder.name, "log")
        self.process = subprocess.Popen(
            [EMU, "--devices", "t,t", "--version", "6.1.5", "--log", self.log, "--control",
             os.path.join(self.folder.name, "control"), "--", CTL, "serve", "--all",
             # Every interface, so that a broadcast reaches the portmapper: the namespace has
             # only its loopback.
             "--listen", "0.0.0.0:0", "--vxi11-port", str(core_port), *extra],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], 20)
        line = self.process.stdout.readline() if ready else ""
        if not line.startswith("listening on 0.0.0.0:"):
            self.process.kill()
            raise RuntimeError("server did not start: %r" % line)
        self.raw_port = int(line.split()[2].split(":")[1])
        self.core_port = getport(CORE, 1, 6) if core_port == 0 else core_port

    def writes(self):
        with open(self.log) as f:
            return [l.split(" write ")[1].strip() for l in f if " write " in l]

    def stop(self):
        self.process.terminate()
        status = self.process.wait(20)
        self.stderr = self.process.stderr.read()
        self.process.stdout.close()
        self.process.stderr.close()
        self.folder.cleanup()
        return status


def call(xid, prog, vers, proc, args=b"", rpcvers=2):
    return struct.pack(">10I", xid, 0, rpcvers, prog, vers, proc, 0, 0, 0, 0) + args


def mark(record):
    return struct.pack(">I", 0x80000000 | len(record)) + record


def opaque(data):
    return struct.pack(">I", len(data)) + data + b"\0" * (-len(data) % 4)


def parse_reply(data):
    """(xid, accept or ('denied', ...), results)."""
    xid, mtype, stat = struct.unpack(">3I", data[:12])
    assert mtype == 1
    if stat == 1:
        return xid, ("denied",) + struct.unpack(">3I", data[12:24]), b""
    _, length = struct.unpack(">2I", data[12:20])
    accept = struct.unpack(">I", data[20 + length:24 + length])[0]
    return xid, accept, data[24 + length:]


class Rpc:
    """A TCP RPC connection, one call at a time."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.xid = 0

    def send(self, raw):
        self.sock.sendall(raw)

    def record(self):
        data = b""
        while True:
            header = self.exact(4)
            length = struct.unpack(">I", header)[0]
            data += self.exact(length & 0x7FFFFFFF)
            if length & 0x80000000:
                return data

    def exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def call(self, prog, vers, proc, args=b""):
        self.xid += 1
        self.send(mark(call(self.xid, prog, vers, proc, args)))
        xid, accept, results = parse_reply(self.record())
        assert xid == self.xid
        return accept, results

    def core(self, proc, args=b""):
        accept, results = self.call(CORE, 1, proc, args)
        assert accept == 0, accept
        return struct.unpack(">%dI" % (len(results) // 4), results[: len(results) // 4 * 4])

    def link(self, name=b"inst0", lock=False, lock_timeout=0):
        error, lid, abort_port, max_recv = self.core(
            CREATE, struct.pack(">3I", 1, int(lock), lock_timeout) + opaque(name))
        return error, lid, abort_port, max_recv

    def write(self, lid, data, flags=END, io_timeout=2000):
        return self.core(WRITE, struct.pack(">4I", lid, io_timeout, 0, flags) + opaque(data))

    def read(self, lid, size=1024, io_timeout=2000, flags=0, term=0):
        accept, results = self.call(CORE, 1, READ,
                                    struct.pack(">6I", lid, size, io_timeout, 0, flags, term))
        assert accept == 0
        error, reason, length = struct.unpack(">3I", results[:12])
        return error, reason, results[12:12 + length]

    def generic(self, proc, lid, flags=0, lock_timeout=0):
        return self.core(proc, struct.pack(">4I", lid, flags, lock_timeout, 1000))

    def close(self):
        self.sock.close()


def getport(prog, vers, proto):
    rpc = Rpc(111)
    accept, results = rpc.call(PMAP, 2, 3, struct.pack(">4I", prog, vers, proto, 0))
    rpc.close()
    assert accept == 0
    return struct.unpack(">I", results)[0]


def udp_call(record, timeout=1.0):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(timeout)
    s.sendto(record, ("127.0.0.1", 111))
    try:
        return s.recv(65536)
    except socket.timeout:
        return None
    finally:
        s.close()


def setUpModule():
    global server
    server = Server()


def tearDownModule():
    assert server.stop() == 0
    assert "VXI-11 portmapper on port 111" in server.stderr, server.stderr


class Portmapper(unittest.TestCase):
    def test_calls_over_udp_and_tcp(self):
        getport = struct.pack(">4I", CORE, 1, 6, 0)
        cases = [  # (name, program, version, procedure, arguments, accept, results)
            ("null", PMAP, 2, 0, b"", 0, b""),
            ("getport core", PMAP, 2, 3, getport, 0, struct.pack(">I", server.core_port)),
            ("getport udp", PMAP, 2, 3, struct.pack(">4I", CORE, 1, 17, 0), 0, b"\0" * 4),
            ("getport other", PMAP, 2, 3, struct.pack(">4I", 100003, 3, 6, 0), 0, b"\0" * 4),
            ("set refused", PMAP, 2, 1, struct.pack(">4I", 1234, 1, 6, 99), 0, b"\0" * 4),
            ("unset refused", PMAP, 2, 2, struct.pack(">4I", CORE, 1, 6, 0), 0, b"\0" * 4),
            ("rpcbind v3", PMAP, 3, 3, getport, 2, struct.pack(">2I", 2, 2)),
            ("rpcbind v4", PMAP, 4, 3, getport, 2, struct.pack(">2I", 2, 2)),
            ("other program", 100003, 2, 0, b"", 1, b""),
            ("unknown procedure", PMAP, 2, 9, b"", 3, b""),
            ("short getport", PMAP, 2, 3, b"\0" * 8, 4, b""),
        ]
        tcp = Rpc(111)
        for name, prog, vers, proc, args, accept, results in cases:
            with self.subTest(name):
                self.assertEqual(tcp.call(prog, vers, proc, args), (accept, results))
                reply = udp_call(call(7, prog, vers, proc, args))
                self.assertEqual(parse_reply(reply), (7, accept, results))
        tcp.close()

    def test_dump_callit_and_garbage(self):
        rpc = Rpc(111)
        accept, results = rpc.call(PMAP, 2, 4)
        self.assertEqual(accept, 0)
        words = struct.unpack(">%dI" % (len(results) // 4), results)
        self.assertIn((1, CORE, 1, 6, server.core_port), [words[i:i + 5] for i in range(0, len(words) - 1, 5)])
        self.assertEqual(words[-1], 0)
        # CALLIT amplifies forged requests: never answered.
        self.assertIsNone(udp_call(call(8, PMAP, 2, 5, struct.pack(">4I", CORE, 1, 0, 0)), 0.3))
        # Not a call, a truncated header: nothing to answer; RPC version 3: denied.
        self.assertIsNone(udp_call(b"\1\2\3", 0.3))
        self.assertEqual(parse_reply(udp_call(call(9, PMAP, 2, 0, rpcvers=3)))[1], ("denied", 0, 2, 2))
        rpc.close()


class CoreChannel(unittest.TestCase):
    def setUp(self):
        self.rpc = Rpc(server.core_port)

    def tearDown(self):
        self.rpc.close()

    def test_links_io_and_errors(self):
        rpc = self.rpc
        self.assertEqual(rpc.link(b"nothing")[0], 3)
        self.assertEqual(rpc.link(b"inst100")[0], 3)
        error, lid, abort_port, max_recv = rpc.link(b"inst0")
        self.assertEqual((error, max_recv), (0, 1024))
        self.assertEqual(rpc.link(b"INST2")[0], 0)
        # A block without END is kept until the one with it; blocks above maxRecvSize too.
        self.assertEqual(rpc.write(lid, b"*I", flags=0), (0, 2))
        self.assertEqual(rpc.write(lid, b"DN?"), (0, 3))
        error, reason, data = rpc.read(lid)
        self.assertEqual((error, reason), (0, 4))
        self.assertTrue(data.startswith(b"TOVRIK,") and data.endswith(b"\n"), data)
        big = b"FREQ 1000;" * 150 + b"*OPC?\n"
        self.assertEqual(rpc.write(lid, big), (0, len(big)))
        self.assertEqual(rpc.read(lid), (0, 4, b"1\n"))
        cases = [  # (name, request size, flags, term char, error, reason, data)
            ("request count", 3, 0, 0, 0, 1, b"TOV"),
            ("term char", 100, TERMCHR, ord(","), 0, 2, b"RIK,"),
            ("rest to the end", 100, 0, 0, 0, 4, None),
        ]
        rpc.write(lid, b"*IDN?\n")
        for name, size, flags, term, error, reason, data in cases:
            with self.subTest(name):
                got = rpc.read(lid, size, flags=flags, term=term)
                self.assertEqual(got[:2], (error, reason))
                if data is not None:
                    self.assertEqual(got[2], data)
        # Nothing to read: error 15 within io_timeout, before the client's deadline.
        start = time.monotonic()
        self.assertEqual(rpc.read(lid, io_timeout=300), (15, 0, b""))
        self.assertLess(time.monotonic() - start, 1.0)
        # Status byte: MAV while an answer waits; clear drops it.
        rpc.write(lid, b"*IDN?\n")
        self.assertEqual(rpc.generic(STB, lid), (0, 0x10))
        self.assertEqual(rpc.generic(CLEAR, lid), (0,))
        self.assertEqual(rpc.generic(STB, lid), (0, 0))
        self.assertEqual(rpc.read(lid, io_timeout=100)[0], 15)
        # Clear ends a sweep the link started.
        rpc.write(lid, b"INIT:CONT ON;*OPC?\n")
        self.assertEqual(rpc.read(lid), (0, 4, b"1\n"))
        self.assertEqual(rpc.generic(CLEAR, lid), (0,))
        rpc.write(lid, b"INIT:CONT?\n")
        self.assertEqual(rpc.read(lid), (0, 4, b"0\n"))
        # An error in the queue shows as bit 2.
        rpc.write(lid, b"NOPE\n")
        self.assertEqual(rpc.generic(STB, lid), (0, 0x04))
        rpc.write(lid, b"*CLS\n")
        procedures = [  # (name, procedure, arguments, results)
            ("remote", REMOTE, None, (0,)),
            ("local", LOCAL, None, (0,)),
            ("trigger", TRIGGER, None, (0,)),
            ("unlock unlocked", UNLOCK, struct.pack(">I", lid), (12,)),
            ("enable_srq", ENABLE_SRQ, struct.pack(">2I", lid, 0) + opaque(b""), (8,)),
            ("docmd", DOCMD, b"", (8,)),
            ("unknown link", REMOTE, struct.pack(">4I", 999, 0, 0, 0), (4,)),
            ("read unknown link", STB, struct.pack(">4I", 999, 0, 0, 0), (4, 0)),
        ]
        for name, proc, args, results in procedures:
            with self.subTest(name):
                if args is None:
                    self.assertEqual(rpc.generic(proc, lid), results)
                else:
                    self.assertEqual(rpc.core(proc, args), results)
        self.assertEqual(rpc.core(DESTROY, struct.pack(">I", lid)), (0,))
        self.assertEqual(rpc.write(lid, b"*IDN?\n"), (4, 0))

    def test_malformed_calls(self):
        cases = [  # (name, record, accept)
            ("abort program on core port", call(1, ABORT, 1, 1, b"\0" * 4), 1),
            ("version 2", call(2, CORE, 2, CREATE), 2),
            ("unknown procedure", call(3, CORE, 1, 99), 3),
            ("short create_link", call(4, CORE, 1, CREATE, b"\0" * 8), 4),
            ("write longer than record", call(5, CORE, 1, WRITE, struct.pack(">5I", 1, 0, 0, 8, 4000)), 4),
            ("name too long", call(6, CORE, 1, CREATE, struct.pack(">3I", 0, 0, 0) + opaque(b"i" * 300)), 4),
        ]
        for name, record, accept in cases:
            with self.subTest(name):
                self.rpc.send(mark(record))
                self.assertEqual(parse_reply(self.rpc.record())[1], accept)
        self.rpc.send(mark(call(7, CORE, 1, 0, rpcvers=3)))
        self.assertEqual(parse_reply(self.rpc.record())[1], ("denied", 0, 2, 2))
        # A record mark beyond the bound closes the connection; the server goes on.
        self.rpc.send(struct.pack(">I", 0x80000000 | (1 << 20)))
        self.assertEqual(self.rpc.sock.recv(1), b"")
        other = Rpc(server.core_port)
        self.assertEqual(other.link()[0], 0)
        other.close()

    def test_abort_ends_a_waiting_read(self):
        _, lid, abort_port, _ = self.rpc.link()
        self.rpc.send(mark(call(50, CORE, 1, READ, struct.pack(">6I", lid, 100, 5000, 0, 0, 0))))
        time.sleep(0.2)
        abort = Rpc(abort_port)
        self.assertEqual(abort.call(ABORT, 1, 1, struct.pack(">I", lid)), (0, b"\0" * 4))
        self.assertEqual(abort.call(ABORT, 1, 1, struct.pack(">I", 999)), (0, struct.pack(">I", 4)))
        self.assertEqual(abort.call(ABORT, 1, 2, b"")[0], 3)
        abort.close()
        xid, accept, results = parse_reply(self.rpc.record())
        self.assertEqual((xid, accept, results[:4]), (50, 0, struct.pack(">I", 23)))

    def test_locks(self):
        a, b = self.rpc, Rpc(server.core_port)
        _, la, _, _ = a.link(b"inst1")
        _, lb, _, _ = b.link(b"inst1")
        _, other, _, _ = b.link(b"inst2")
        self.assertEqual(a.core(LOCK, struct.pack(">3I", la, 0, 0)), (0,))
        cases = [  # (name, call, expected)
            ("lock without wait", lambda: b.core(LOCK, struct.pack(">3I", lb, 0, 0)), (11,)),
            ("write", lambda: b.write(lb, b"FREQ 5\n"), (11, 0)),
            ("other channel", lambda: b.write(other, b"FREQ 5\n"), (0, 7)),
            ("unlock of another's", lambda: b.core(UNLOCK, struct.pack(">I", lb)), (12,)),
        ]
        for name, do, expected in cases:
            with self.subTest(name):
                self.assertEqual(do(), expected)
        start = time.monotonic()
        self.assertEqual(b.core(LOCK, struct.pack(">3I", lb, WAITLOCK, 300)), (11,))
        self.assertGreater(time.monotonic() - start, 0.25)
        # A raw-socket client of the locked channel is shut out, with an error of its own.
        raw = socket.create_connection(("127.0.0.1", server.raw_port), timeout=5)
        raw.sendall(b"FREQ 5\nSYST:ERR?\n")
        self.assertTrue(raw.recv(200).startswith(b"-200,"))
        # A waiting lock is granted when the holder's connection closes.
        b.send(mark(call(60, CORE, 1, LOCK, struct.pack(">3I", lb, WAITLOCK, 5000))))
        time.sleep(0.2)
        a.close()
        self.assertEqual(parse_reply(b.record()), (60, 0, b"\0" * 4))
        self.assertEqual(b.core(UNLOCK, struct.pack(">I", lb)), (0,))
        raw.sendall(b"*CLS;SYST:ERR?\n")
        self.assertEqual(raw.recv(200), b'0,"No error"\n')
        raw.close()
        b.close()
        self.rpc = Rpc(server.core_port)


def word(hz):
    return int(hz * 4294967296 / 180e6 + 0.5)


def report(w, control=1):
    return "00 %02X %02X %02X %02X %02X 00 00" % (
        w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF, w >> 24, control)


class PyVisa(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        try:
            import pyvisa
        except ImportError:
            raise unittest.SkipTest("pyvisa is not installed")
        cls.pyvisa = pyvisa
        cls.rm = pyvisa.ResourceManager("@py")

    @classmethod
    def tearDownClass(cls):
        cls.rm.close()

    def open(self, name):
        inst = self.rm.open_resource(name)
        inst.timeout = 2000
        inst.read_termination = "\n"
        self.addCleanup(inst.close)
        return inst

    def test_drive_the_instrument(self):
        inst = self.open("TCPIP::127.0.0.1::INSTR")
        self.assertTrue(inst.query("*IDN?").startswith("TOVRIK,"))
        second = self.open("TCPIP::127.0.0.1::inst2::INSTR")
        second.write("FREQ 2500;:OUTP ON")
        self.assertEqual(second.query("*OPC?"), "1")
        self.assertIn(report(word(2500)), server.writes())
        self.assertEqual(second.query("INST:NSEL?"), "2")
        # 1,500 bytes: above maxRecvSize, so pyvisa-py sends more than one block.
        inst.write("FREQ 1000;" * 149 + "*OPC")
        self.assertEqual(inst.query("SYST:ERR?"), '0,"No error"')
        inst.write("*IDN?")
        self.assertEqual(inst.read_stb() & 0x10, 0x10)
        inst.clear()
        self.assertEqual(inst.read_stb() & 0x10, 0)
        second.write("OUTP OFF")

    def test_empty_read_times_out(self):
        inst = self.open("TCPIP::127.0.0.1::INSTR")
        inst.timeout = 500
        start = time.monotonic()
        with self.assertRaises(self.pyvisa.errors.VisaIOError) as caught:
            inst.read()
        self.assertEqual(caught.exception.error_code, self.pyvisa.constants.StatusCode.error_timeout)
        self.assertLess(time.monotonic() - start, 1.4)  # error 15, not pyvisa-py's own deadline
        self.assertEqual(inst.query("*OPC?"), "1")

    def test_two_resources_contend_for_a_lock(self):
        a = self.open("TCPIP::127.0.0.1::inst1::INSTR")
        b = self.open("TCPIP::127.0.0.1::inst1::INSTR")
        a.lock_excl(timeout=1000)
        with self.assertRaises(self.pyvisa.errors.VisaIOError) as caught:
            b.lock_excl(timeout=300)
        self.assertEqual(caught.exception.error_code,
                         self.pyvisa.constants.StatusCode.error_resource_locked)
        a.unlock()
        b.lock_excl(timeout=300)
        self.assertEqual(b.query("*OPC?"), "1")
        b.unlock()


class Port111Taken(unittest.TestCase):
    def test_a_second_server_serves_the_core_port_alone(self):
        # The first server's portmapper holds port 111 and refuses registrations.
        second = Server(core_port=9009)
        rpc = Rpc(9009)
        error, lid, abort_port, _ = rpc.link()
        self.assertEqual((error, abort_port), (0, 9010))  # next to a fixed core port
        rpc.write(lid, b"*IDN?\n")
        self.assertEqual(rpc.read(lid)[:2], (0, 4))
        rpc.close()
        self.assertEqual(second.stop(), 0)
        self.assertIn("port 111 is taken and its rpcbind did not take the registration: "
                      "VXI-11 clients must name the core port (TCPIP::host,9009::INSTR)",
                      second.stderr)
        self.assertEqual(getport(CORE, 1, 6), server.core_port)


@unittest.skipUnless(shutil.which("lxi"), "lxi-tools is not installed")
class LxiTools(unittest.TestCase):
    def test_scpi_and_discover(self):
        run = lambda *args: subprocess.run(["lxi", *args], capture_output=True, text=True,
                                           timeout=20).stdout
        self.assertTrue(run("scpi", "-a", "127.0.0.1", "*IDN?").startswith("TOVRIK,"))
        self.assertIn('Found "TOVRIK,', run("discover", "-t", "1"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

#!/usr/bin/env python3
"""tovrikctl serve under load, against tovrik-emu --frame-us 1000 (1 ms USB frames):

  1. a fresh client's *IDN? while 8 clients flood the server with 4,096-byte FREQ lines;
  2. a fresh client's *IDN? while 16 clients trickle one byte every half second;
  3. the gaps between the points of a 1 ms sweep while 8 clients flood it with *IDN?.

With --vxi11: instead of 3, `FREQ x;*OPC?` round trips over the raw socket and VXI-11 taken in
turn, and 1 and 2 over both protocols (the abuse over the fresh client's protocol; a VXI-11
client: new connection to the core port, create_link, *IDN? written and read, destroy_link),
plus 40 VXI-11 tricklers, more than its 32 places. Run it in a network namespace of its own
(`unshare -rn sh -c 'ip link set lo up && exec python3 serve_load.py --vxi11 ...'`), so that
the server's portmapper does not take port 111 from the machine.

Usage: serve_load.py [--vxi11] TOVRIK-EMU TOVRIKCTL [SECONDS]"""
import os
import re
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

VXI11 = "--vxi11" in sys.argv[1:]
ARGS = [a for a in sys.argv[1:] if a != "--vxi11"]
EMU, CTL = ARGS[0], ARGS[1]
SECONDS = float(ARGS[2]) if len(ARGS) > 2 else 4.0


class Server:
    def __init__(self, folder):
        self.log = os.path.join(folder, "log")
        vxi11 = ["--vxi11-port", "0"] if VXI11 else ["--no-vxi11"]
        self.process = subprocess.Popen(
            [EMU, "--frame-us", "1000", "--timestamps", "--log", self.log, "--", CTL, "serve",
             "--listen", "127.0.0.1:0", *vxi11], stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, text=True)
        self.core_port = None
        if VXI11:
            for line in self.process.stderr:
                found = re.search(r"core channel on port (\d+)|\(port (\d+)\)|,(\d+)::INSTR",
                                  line)
                if found:
                    self.core_port = int(next(g for g in found.groups() if g))
                    break
        self.closed = 0  # connections closed by a limit
        threading.Thread(target=self.drain, daemon=True).start()
        self.port = int(self.process.stdout.readline().split()[2].split(":")[1])

    def drain(self):
        for line in self.process.stderr:
            self.closed += "tovrikctl: closed " in line

    def connect(self):
        s = socket.create_connection(("127.0.0.1", self.port))
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return s

    def stop(self):
        self.process.terminate()
        self.process.wait(30)


def fresh_idn(server, count, pause, vxi11=False):
    times = []
    for _ in range(count):
        start = time.perf_counter()
        if vxi11:
            with Vxi11(server) as v:
                assert v.query(b"*IDN?").startswith(b"TOVRIK")
        else:
            with server.connect() as s:
                s.settimeout(30)
                s.sendall(b"*IDN?\n")
                assert s.makefile("rb").readline().startswith(b"TOVRIK")
        times.append(time.perf_counter() - start)
        time.sleep(pause)
    return times


def opaque(data):
    return struct.pack(">I", len(data)) + data + b"\0" * (-len(data) % 4)


class Vxi11:
    """A VXI-11 client of the core channel: one link to inst0, one call at a time."""

    def __init__(self, server):
        self.sock = socket.create_connection(("127.0.0.1", server.core_port))
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.sock.settimeout(30)
        self.xid = 0
        error, self.link = struct.unpack(">2I", self.call(10, struct.pack(">3I", 1, 0, 0) +
                                                          opaque(b"inst0"))[:8])
        assert error == 0

    def call(self, proc, args):
        self.xid += 1
        record = struct.pack(">10I", self.xid, 0, 2, 0x0607AF, 1, proc, 0, 0, 0, 0) + args
        self.sock.sendall(struct.pack(">I", 0x80000000 | len(record)) + record)
        reply = b""
        while True:
            mark = struct.unpack(">I", self.exact(4))[0]
            reply += self.exact(mark & 0x7FFFFFFF)
            if mark & 0x80000000:
                break
        xid, _, stat, _, length = struct.unpack(">5I", reply[:20])
        assert (xid, stat) == (self.xid, 0) and reply[20 + length:24 + length] == b"\0" * 4
        return reply[24 + length:]

    def exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def query(self, command):
        # device_write with END, then device_read: the answer.
        assert self.call(11, struct.pack(">4I", self.link, 10000, 0, 8) + opaque(command))[:4] \
            == b"\0" * 4
        results = self.call(12, struct.pack(">6I", self.link, 4096, 10000, 0, 0, 0))
        error, _, length = struct.unpack(">3I", results[:12])
        assert error == 0
        return results[12:12 + length]

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        try:
            self.call(23, struct.pack(">I", self.link))
        finally:
            self.sock.close()


def in_background(count, work):
    stop = threading.Event()
    threads = [threading.Thread(target=work, args=(stop,)) for _ in range(count)]
    for t in threads:
        t.start()
    return stop, threads


def flood_lines(server, line, vxi11=False):
    def work(stop):
        try:
            if vxi11:
                with Vxi11(server) as v:
                    while not stop.is_set():
                        v.query(line.rstrip(b"\n"))
                return
            with server.connect() as s:
                reader = s.makefile("rb")
                while not stop.is_set():
                    s.sendall(line)
                    reader.readline()
        except (OSError, EOFError):
            pass
    return work


def trickle(server, vxi11=False):
    # A byte every half second: of a line, or of a record (its mark first).
    record = b"\x80\x00\x01\x00" + bytes(256)
    port, data = (server.core_port, record) if vxi11 else (server.port, b"F")

    def work(stop):
        while not stop.is_set():
            try:
                with socket.create_connection(("127.0.0.1", port)) as s:
                    for i in range(1 << 30):
                        if stop.is_set():
                            break
                        s.sendall(data[i % len(data):][:1])
                        time.sleep(0.5)
            except OSError:
                time.sleep(0.05)
    return work


def summary(name, times):
    times = sorted(times)
    print("%-58s median %6.1f ms, p99 %6.1f ms, max %6.1f ms (%d runs)"
          % (name, statistics.median(times) * 1e3, times[int(len(times) * 0.99)] * 1e3,
             times[-1] * 1e3, len(times)))


def round_trips(server, count):
    """`FREQ x;*OPC?` over the raw socket and over VXI-11, one of each in turn."""
    raw, vxi = [], []
    with server.connect() as s, Vxi11(server) as v:
        reader = s.makefile("rb")
        for i in range(count):
            start = time.perf_counter()
            s.sendall(b"FREQ %d;*OPC?\n" % (1000000 + i))
            assert reader.readline() == b"1\n"
            raw.append(time.perf_counter() - start)
            start = time.perf_counter()
            assert v.query(b"FREQ %d;*OPC?" % (2000000 + i)) == b"1\n"
            vxi.append(time.perf_counter() - start)
    summary("FREQ x;*OPC?, raw socket", raw)
    summary("FREQ x;*OPC?, VXI-11", vxi)


def abuse(server, units, vxi11, runs):
    name = "VXI-11" if vxi11 else "raw"
    stop, threads = in_background(8, flood_lines(server, units.encode(), vxi11))
    time.sleep(0.5)
    summary("fresh %s *IDN?, 8 %s clients flooding 4 KiB lines" % (name, name),
            fresh_idn(server, runs, 0.05, vxi11))
    stop.set()
    [t.join() for t in threads]
    for tricklers in [16, 40] if vxi11 else [16]:
        stop, threads = in_background(tricklers, trickle(server, vxi11))
        time.sleep(1 if tricklers < 32 else 4)
        summary("fresh %s *IDN?, %d %s clients trickling" % (name, tricklers, name),
                fresh_idn(server, runs, 0.05, vxi11))
        stop.set()
        [t.join() for t in threads]


def main():
    with tempfile.TemporaryDirectory() as folder:
        server = Server(folder)
        with server.connect() as s:
            s.sendall(b"OUTP ON;*OPC?\n")
            s.makefile("rb").readline()
        # FREQ units filling a line of about 4,096 bytes.
        units = ";".join("FREQ %d" % (1000000 + i) for i in range(400))[:4090]
        units = units[:units.rfind(";")] + ";*OPC?\n"
        if VXI11:
            print("load average before: %.1f %.1f %.1f" % os.getloadavg())
            round_trips(server, 1000)
            abuse(server, units, False, 200)
            abuse(server, units, True, 200)
            server.stop()
            print("connections closed by a limit: %d" % server.closed)
            print("load average after: %.1f %.1f %.1f" % os.getloadavg())
            return
        stop, threads = in_background(8, flood_lines(server, units.encode()))
        time.sleep(0.5)
        summary("fresh *IDN?, 8 clients flooding 4 KiB lines", fresh_idn(server, 20, 0.1))
        stop.set()
        [t.join() for t in threads]

        stop, threads = in_background(16, trickle(server))
        time.sleep(1)
        summary("fresh *IDN?, 16 clients trickling", fresh_idn(server, 20, 0.25))
        stop.set()
        [t.join() for t in threads]

        stop, threads = in_background(int(os.environ.get("FLOODERS", "8")),
                                      flood_lines(server, b"*IDN?\n"))
        with server.connect() as s:
            s.sendall(b"FREQ:STAR 1 MHZ;STOP 2 MHZ;:SWE:POIN 1000;DWEL 1 MS;:INIT:CONT ON;*OPC?\n")
            s.makefile("rb").readline()
            started = time.monotonic()
            time.sleep(SECONDS)
            s.sendall(b"ABOR;*OPC?\n")
            s.makefile("rb").readline()
        stop.set()
        [t.join() for t in threads]
        server.stop()
        stamps = []
        with open(server.log) as f:
            for line in f:
                parts = line.split()
                if len(parts) > 2 and parts[2] == "write":
                    stamps.append(float(parts[0]))
        # The sweep's writes: the last SECONDS worth before the final two (abort, stop).
        sweep = [t for t in stamps if t >= stamps[-1] - SECONDS - 0.2][:-2]
        gaps = sorted(b - a for a, b in zip(sweep, sweep[1:]))
        p99 = gaps[int(len(gaps) * 0.99)]
        print("sweep at 1 ms, 8 clients flooding *IDN?:       %d points in %.1f s, gap median "
              "%.3f ms, p99 %.3f ms, max %.3f ms" % (len(sweep), SECONDS,
                                                      statistics.median(gaps) * 1e3, p99 * 1e3,
                                                      gaps[-1] * 1e3))
        del started


main()

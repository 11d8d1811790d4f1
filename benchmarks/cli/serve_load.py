#!/usr/bin/env python3
"""tovrikctl serve under load, against tovrik-emu --frame-us 1000 (1 ms USB frames):

  1. a fresh client's *IDN? while 8 clients flood the server with 4,096-byte FREQ lines;
  2. a fresh client's *IDN? while 16 clients trickle one byte every half second;
  3. the gaps between the points of a 1 ms sweep while 8 clients flood it with *IDN?.

Usage: serve_load.py TOVRIK-EMU TOVRIKCTL [SECONDS]"""
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

EMU, CTL = sys.argv[1], sys.argv[2]
SECONDS = float(sys.argv[3]) if len(sys.argv) > 3 else 4.0


class Server:
    def __init__(self, folder):
        self.log = os.path.join(folder, "log")
        self.process = subprocess.Popen(
            [EMU, "--frame-us", "1000", "--timestamps", "--log", self.log, "--", CTL, "serve",
             "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline().split()[2].split(":")[1])

    def connect(self):
        s = socket.create_connection(("127.0.0.1", self.port))
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return s

    def stop(self):
        self.process.terminate()
        self.process.wait(30)


def fresh_idn(server, count, pause):
    times = []
    for _ in range(count):
        start = time.perf_counter()
        with server.connect() as s:
            s.settimeout(30)
            s.sendall(b"*IDN?\n")
            assert s.makefile("rb").readline().startswith(b"TOVRIK")
        times.append(time.perf_counter() - start)
        time.sleep(pause)
    return times


def in_background(count, work):
    stop = threading.Event()
    threads = [threading.Thread(target=work, args=(stop,)) for _ in range(count)]
    for t in threads:
        t.start()
    return stop, threads


def flood_lines(server, line):
    def work(stop):
        try:
            with server.connect() as s:
                reader = s.makefile("rb")
                while not stop.is_set():
                    s.sendall(line)
                    reader.readline()
        except OSError:
            pass
    return work


def trickle(server):
    def work(stop):
        while not stop.is_set():
            try:
                with server.connect() as s:
                    while not stop.is_set():
                        s.sendall(b"F")
                        time.sleep(0.5)
            except OSError:
                time.sleep(0.05)
    return work


def summary(name, times):
    print("%-46s median %7.1f ms, max %7.1f ms (%d runs)"
          % (name, statistics.median(times) * 1e3, max(times) * 1e3, len(times)))


def main():
    with tempfile.TemporaryDirectory() as folder:
        server = Server(folder)
        with server.connect() as s:
            s.sendall(b"OUTP ON;*OPC?\n")
            s.makefile("rb").readline()
        # FREQ units filling a line of about 4,096 bytes.
        units = ";".join("FREQ %d" % (1000000 + i) for i in range(400))[:4090]
        units = units[:units.rfind(";")] + ";*OPC?\n"
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

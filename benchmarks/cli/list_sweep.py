#!/usr/bin/env python3
"""A LIST sweep of 1,000 points at 1 ms through tovrikctl serve, against tovrik-emu with 1 ms
USB frames (--frame-us 1000): the gaps between the device's writes of the sweep (p50, p99,
max) from the emulator's --timestamps log, per round; and a start/stop sweep of as many
points at the same dwell beside it, for what the machine does without lists.

Usage: list_sweep.py TOVRIK-EMU TOVRIKCTL [ROUNDS]"""
import os
import select
import socket
import statistics
import subprocess
import sys
import tempfile
import time

EMU, CTL = sys.argv[1], sys.argv[2]
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
POINTS = 1000
STOP = "00 00 00 00 00 01 00 00"


def main():
    with tempfile.TemporaryDirectory() as folder:
        log = os.path.join(folder, "log")
        server = subprocess.Popen(
            [EMU, "--devices", "t", "--frame-us", "1000", "--timestamps", "--log", log, "--",
             CTL, "serve", "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE, text=True)
        ready, _, _ = select.select([server.stdout], [], [], 20)
        line = server.stdout.readline() if ready else ""
        port = int(line.split()[2].split(":")[1])
        client = socket.create_connection(("127.0.0.1", port))
        reader = client.makefile("r")
        hz = ",".join(str(1_000_000 + 1000 * k) for k in range(POINTS))
        client.sendall(("LIST:FREQ %s;DWEL 1ms;:SWE:POIN %d;DWEL 1ms\n" % (hz, POINTS)).encode())
        print("%d points at 1 ms, gaps between writes in ms" % POINTS)
        print("mode  round    p50     p99     max   writes")
        for n, mode in enumerate(["LIST", "SWE"] * ROUNDS):
            with open(log) as f:
                before = sum(1 for _ in f)
            client.sendall(b":FREQ:MODE %s;:INIT;*OPC?\n" % mode.encode())
            assert reader.readline().strip() == "1"
            time.sleep(0.05)
            with open(log) as f:
                lines = f.readlines()[before:]
            stamps = [float(l.split()[0]) for l in lines if " write " in l]
            gaps = sorted((b - a) * 1e3 for a, b in zip(stamps, stamps[1:]))
            p99 = gaps[int(len(gaps) * 0.99) - 1]
            print("%-4s %6d %6.3f %7.3f %7.3f %6d" % (mode, n // 2 + 1, statistics.median(gaps), p99,
                                                      gaps[-1], len(stamps)))
        client.close()
        server.terminate()
        server.wait(20)


if __name__ == "__main__":
    main()

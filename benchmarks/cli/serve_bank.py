#!/usr/bin/env python3
"""tovrikctl serve --all with eight TOVRIKs at 1 ms USB frames (tovrik-emu --frame-us 1000):
1, 2, 4 and 8 channels sweep 1,000 points at 1 ms at the same time. Per channel count: each
device's gaps between sweep points (p50/p99/max over all devices), points delivered, and the
server's CPU time (user + system, all threads) per 1,000 reports sent.

Usage: serve_bank.py TOVRIK-EMU TOVRIKCTL [ROUNDS]"""
import os
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
TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


class Writes:
    """position -> [(time, bytes)] of every write so far, read on from where the last call
    stopped: rereading the whole log on every poll would take a core from what is measured."""

    def __init__(self, log):
        self.file = open(log)
        self.rest = ""
        self.seen = {}

    def __call__(self):
        self.rest += self.file.read()
        lines = self.rest.split("\n")
        self.rest = lines.pop()
        for line in lines:
            parts = line.split(" ", 3)
            if len(parts) == 4 and parts[2] == "write":
                self.seen.setdefault(int(parts[1][len("hidraw"):]), []).append(
                    (float(parts[0]), parts[3].strip()))
        return self.seen


def round_trip_us(rounds=2000):
    """A unix-socket round trip between two processes on two processors: what waking another
    processor costs here. On virtual machines it varies with the host, and the tail of the
    gaps with it."""
    cpus = sorted(os.sched_getaffinity(0))
    a, b = socket.socketpair()
    child = os.fork()
    if child == 0:
        os.sched_setaffinity(0, {cpus[-1]})
        a.close()
        for _ in range(rounds):
            b.sendall(b.recv(1))
        os._exit(0)
    b.close()
    os.sched_setaffinity(0, {cpus[0]})
    start = time.perf_counter()
    for _ in range(rounds):
        a.sendall(b"x")
        a.recv(1)
    elapsed = time.perf_counter() - start
    os.waitpid(child, 0)
    os.sched_setaffinity(0, cpus)
    a.close()
    return elapsed / rounds * 1e6


def timer_lateness(count=3000):
    """How late this machine wakes a thread that sleeps to absolute 1 ms deadlines, with
    nothing else running: the floor under every gap measured below. The stamps are whole
    frames, so what counts is a wake-up more than a frame late; more than 1 % of those and no
    p99 can meet the target, whatever the program."""
    late = []
    deadline = time.monotonic()
    for _ in range(count):
        deadline += 0.001
        time.sleep(max(0.0, deadline - time.monotonic()))
        late.append(time.monotonic() - deadline)
    over_1ms = sum(1 for t in late if t > 1e-3) / count * 100
    return over_1ms, max(late) * 1e3


def main():
    folder = tempfile.mkdtemp()
    log, pidfile = os.path.join(folder, "log"), os.path.join(folder, "pid")
    process = subprocess.Popen(
        [EMU, "--devices", "t,t,t,t,t,t,t,t", "--frame-us", "1000", "--timestamps", "--log", log,
         "--", "sh", "-c", 'echo $$ > "$0"; exec "$1" serve --all --listen 127.0.0.1:0',
         pidfile, CTL], stdout=subprocess.PIPE, text=True)
    port = int(process.stdout.readline().split()[2].split(":")[1])
    pid = int(open(pidfile).read())
    writes = Writes(log)
    s = socket.create_connection(("127.0.0.1", port))
    reader = s.makefile("rb")

    def ask(line):
        s.sendall(line.encode() + b";*OPC?\n")
        return reader.readline().decode().strip()

    for n in range(1, 9):
        ask(":SOUR%d:FREQ:STAR 1MHZ;STOP 2MHZ;:SOUR%d:SWE:POIN %d;DWEL 1MS" % (n, n, POINTS))
    print("unix-socket round trip between two processes on two processors: %.0f µs" % round_trip_us())
    print("1 ms sleeps to absolute deadlines, alone: %.2f %% woke over 1 ms late, the latest "
          "%.1f ms late" % timer_lateness())
    print()
    print("| channels | gap p50 (µs) | gap p99 (µs) | gap max (µs) | points delivered "
          "| server CPU per 1,000 reports (ms) | load average |")
    print("|---|---|---|---|---|---|---|")
    for channels in (1, 2, 4, 8):
        gaps, delivered, cpu, reports = [], [], 0.0, 0
        load = os.getloadavg()[0]
        for _ in range(ROUNDS):
            before = writes()
            counts = {p: len(before.get(p, [])) for p in range(8)}
            start_cpu = cpu_seconds(pid)
            ask(";".join(":INIT%d" % n for n in range(1, channels + 1)))
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline:
                now = writes()
                if all(len(now.get(p, [])) >= counts[p] + POINTS + 1 for p in range(channels)):
                    break
                time.sleep(0.2)
            cpu += cpu_seconds(pid) - start_cpu
            while (error := ask(":SYST:ERR?").rsplit(";", 1)[0]) != '0,"No error"':
                print("server error:", error)
            now = writes()
            for p in range(channels):
                sweep = [w for w in now[p][counts[p]:] if w[1] != STOP]
                delivered.append(len(sweep))
                reports += len(now[p]) - counts[p]
                gaps += [(b[0] - a[0]) * 1e6 for a, b in zip(sweep, sweep[1:])]
        gaps.sort()
        q = statistics.quantiles(gaps, n=100)
        print("| %d | %.0f | %.0f | %.0f | %s | %.2f | %.2f |" % (
            channels, q[49], q[98], gaps[-1],
            "%d-%d of %d" % (min(delivered), max(delivered), POINTS),
            cpu * 1000 / reports * 1000, load))
        load = os.getloadavg()[0]
    s.close()
    process.terminate()
    process.wait(30)


if __name__ == "__main__":
    main()

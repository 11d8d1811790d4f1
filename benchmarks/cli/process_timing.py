"""Runs inside tovrik-emu: median wall time of whole processes, alternating the commands."""
import statistics
import subprocess
import sys
import time

runs = int(sys.argv[1])
commands = [c.split("\x1f") for c in sys.argv[2:]]
times = [[] for _ in commands]
for _ in range(runs):
    for i, command in enumerate(commands):
        start = time.perf_counter()
        subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
        times[i].append(time.perf_counter() - start)
for command, t in zip(commands, times):
    print("%-40s median %.3f ms  p90 %.3f ms" % (
        " ".join(command)[-40:], statistics.median(t) * 1e3,
        statistics.quantiles(t, n=10)[-1] * 1e3))
if len(times) == 2:
    print("ratio of medians: %.2f" % (statistics.median(times[0]) / statistics.median(times[1])))

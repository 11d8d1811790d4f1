"""`FREQ x` + `*OPC?` round trips against tovrikctl serve under tovrik-emu --frame-us 1000."""
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

emu, ctl, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
with tempfile.TemporaryDirectory() as folder:
    server = subprocess.Popen([emu, "--frame-us", "1000", "--log", os.path.join(folder, "log"),
                               "--", ctl, "serve", "--listen", "127.0.0.1:0"],
                              stdout=subprocess.PIPE, text=True)
    port = int(server.stdout.readline().split()[2].split(":")[1])
    s = socket.create_connection(("127.0.0.1", port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    reader = s.makefile("rb")
    s.sendall(b"OUTP ON\n")
    times = []
    for i in range(count):
        start = time.perf_counter()
        s.sendall(b"FREQ %d\n*OPC?\n" % (1000000 + i))
        assert reader.readline() == b"1\n"
        times.append(time.perf_counter() - start)
    s.close()
    server.terminate()
    server.wait()
    q = statistics.quantiles(times, n=100)
    print("SCPI FREQ + *OPC? x %d: median %.3f ms, p90 %.3f ms, p99 %.3f ms (target: median < 2 ms)"
          % (count, statistics.median(times) * 1e3, q[89] * 1e3, q[98] * 1e3))

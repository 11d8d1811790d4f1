#!/usr/bin/env python3
"""tovrikctl serve where a real rpcbind holds port 111: the core channel is registered with it
while serve runs (pyvisa-py finds it there) and withdrawn when serve ends; a mapping left by a
killed server is taken over, a live server's left alone.

rpcbind runs in a network and mount namespace of the test's own, with /run on a tmpfs there, so
that the machine's port 111 and rpcbind state stay untouched. It changes to its own user, which
needs a real uid map: as root the test uses plain namespaces; otherwise it tries a user
namespace and skips when rpcbind cannot start there (as it cannot, setgroups being denied)."""
import os
import shutil
import socket
import struct
import subprocess
import sys
import time

EMU, CTL = sys.argv[1], sys.argv[2]
SKIP = 77
try:
    import pyvisa
except ImportError:
    print("pyvisa is not installed (scripts/deps.sh installs python3-pyvisa-py)")
    sys.exit(SKIP)
CORE_PORT = 9009

if os.environ.get("TOVRIK_IN_NETNS") != "1":
    if not shutil.which("rpcbind", path="/usr/sbin:/sbin:" + os.environ["PATH"]):
        print("rpcbind is not installed (scripts/deps.sh installs it)")
        sys.exit(SKIP)
    namespaces = ["-nm"] if os.geteuid() == 0 else ["-rnm"]
    probe = subprocess.run(["unshare", *namespaces, "true"], capture_output=True, text=True)
    if probe.returncode != 0:
        print("network and mount namespaces are off here: " + probe.stderr.strip())
        sys.exit(SKIP)
    os.environ["TOVRIK_IN_NETNS"] = "1"
    os.environ["TOVRIK_USERNS"] = str(int(os.geteuid() != 0))
    os.environ["PATH"] = "/usr/sbin:/sbin:" + os.environ["PATH"]
    os.execvp("unshare", ["unshare", *namespaces, "sh", "-c",
                          'ip link set lo up && mount -t tmpfs tmpfs /run && exec "$0" "$@"',
                          sys.executable, *sys.argv])


def mappings():
    """rpcinfo -p's (program, version, protocol, port) rows, or None when nothing answers."""
    run = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True)
    if run.returncode != 0:
        return None
    return {tuple(line.split()[:4]) for line in run.stdout.splitlines()[1:]}


def pmap(proc, port):
    """PMAP SET (1) or UNSET (2) of the core channel over UDP, as a server would."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(2)
        s.sendto(struct.pack(">14I", 1, 0, 2, 100000, 2, proc, 0, 0, 0, 0, 0x0607AF, 1, 6, port),
                 ("127.0.0.1", 111))
        return struct.unpack(">I", s.recv(100)[-4:])[0]


def run_serve(before, expected):
    """The failures seen, serving where rpcbind maps the core channel to port `before` (or
    nothing) and should map it to `expected` while serve runs."""
    failures = []
    if before:
        pmap(1, before)
    serve = subprocess.Popen([EMU, "--devices", "t", "--", CTL, "serve", "--listen",
                              "127.0.0.1:0", "--vxi11-port", str(CORE_PORT)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        line = serve.stdout.readline()
        if not line.startswith("listening on 127.0.0.1:"):
            return ["serve did not start: %r" % line]
        if {row for row in mappings() if row[0] == "395183"} != {
                ("395183", "1", "tcp", str(expected))}:
            failures.append("rpcinfo -p shows %s" % sorted(mappings()))
        if expected == CORE_PORT:
            rm = pyvisa.ResourceManager("@py")
            try:
                inst = rm.open_resource("TCPIP::127.0.0.1::INSTR", read_termination="\n",
                                        timeout=5000)
                idn = inst.query("*IDN?")
                inst.close()
            except Exception as e:  # pylint: disable=broad-except
                idn = e
            rm.close()
            if not str(idn).startswith("TOVRIK,"):
                failures.append("*IDN? through rpcbind: %r" % idn)
    finally:
        serve.terminate()
        status = serve.wait(20)
        err = serve.stderr.read()
    if status != 0:
        failures.append("serve ended with %d" % status)
    said = ("port 111 is taken: the VXI-11 core channel (port %d) is registered with the "
            "rpcbind there" % CORE_PORT if expected == CORE_PORT else
            "its rpcbind did not take the registration")
    if said not in err:
        failures.append("serve said: %r" % err)
    left = {row for row in mappings() or () if row[0] == "395183"}
    if left != ({("395183", "1", "tcp", str(before))} if expected == before != CORE_PORT else set()):
        failures.append("left after serve ended: %s" % sorted(left))
    pmap(2, 0)
    return failures


rpcbind = subprocess.Popen(["rpcbind", "-f"], stderr=subprocess.PIPE, text=True)
try:
    for _ in range(50):
        if mappings() is not None or rpcbind.poll() is not None:
            break
        time.sleep(0.1)
    if mappings() is None:
        rpcbind.kill()
        print("rpcbind could not run here (exit status %s)%s" % (
            rpcbind.wait(), "" if os.environ["TOVRIK_USERNS"] == "0" else
            ": it changes to its own user (setgid, setgroups), which a user namespace made"
            " without root cannot map or allow; run the test as root"))
        sys.exit(SKIP)
    live = socket.create_server(("127.0.0.1", 0))
    failures = []
    cases = [  # (name, the core channel's mapping before serve starts, its mapping while it runs)
        ("none", None, CORE_PORT),
        # Left by a server that was killed: to a port where nothing listens, or to ours.
        ("stale", 9050, CORE_PORT),
        ("stale, our port", CORE_PORT, CORE_PORT),
        # Another server's, which answers there: left alone.
        ("live", live.getsockname()[1], live.getsockname()[1]),
    ]
    for name, before, expected in cases:
        failures += ["%s: %s" % (name, f) for f in run_serve(before, expected)]
    live.close()
finally:
    rpcbind.terminate()
    rpcbind.wait(10)
for failure in failures:
    print("FAIL: " + failure)
print("FAIL" if failures else "passed")
sys.exit(1 if failures else 0)

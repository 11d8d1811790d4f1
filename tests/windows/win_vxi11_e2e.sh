#!/usr/bin/env bash
# tovrikctl.exe serve's VXI-11 front end under Wine against tovrik-emu: pyvisa-py through the
# portmapper on port 111 (*IDN?, a frequency the device receives, the status byte, clear),
# lxi-tools, and a second server that finds port 111 taken.
# The whole test runs in user and network namespaces of its own, where port 111 can be bound
# without root and nothing else listens; skipped where such namespaces are off.
#   win_vxi11_e2e.sh TOVRIK_EMU WINE_RUN TOVRIKCTL_EXE WORK_DIR
# Exit 0 passed, 1 failed, 77 skipped.
set -uo pipefail
emu=$1 wine_run=$2 ctl=$3 work=$4
skip=77
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3

if [[ ${TOVRIK_IN_NETNS:-} != 1 ]]; then
    if [[ ! -x $emu ]]; then
        echo "SKIP: no tovrik-emu at '$emu' (configure with -DTOVRIK_EMU=<native build>/tools/tovrik-emu)"
        exit $skip
    fi
    if ! "$python" -c 'import pyvisa, pyvisa_py' 2>/dev/null; then
        echo "SKIP: $python has no pyvisa-py (scripts/deps.sh installs python3-pyvisa-py)"
        exit $skip
    fi
    "$wine_run" --can-run || exit $?  # 77 with the reason, e.g. a 32-bit build on this machine
    if ! reason=$(unshare -rn true 2>&1); then
        echo "SKIP: user and network namespaces are off here: $reason"
        exit $skip
    fi
    # Root of a namespace of its own opens ports below 1024 to everyone in the network
    # namespace, then runs the test as the user again (in a nested user namespace): Wine's
    # server directory in /tmp belongs to the uid that runs it, and uid 0 must neither make
    # nor meet root's.
    TOVRIK_UID=$(id -u) TOVRIK_GID=$(id -g) TOVRIK_IN_NETNS=1 exec unshare -rn sh -c '
        ip link set lo up && echo 0 >/proc/sys/net/ipv4/ip_unprivileged_port_start &&
        exec unshare --map-user="$TOVRIK_UID" --map-group="$TOVRIK_GID" "$0" "$@"' "$0" "$@"
fi

rm -rf "$work" && mkdir -p "$work"
# shellcheck source=wine_session.sh
. "$here/wine_session.sh"
start_session '"$1" reg.exe query "HKLM\\System\\CurrentControlSet\\Services\\winebus" >/dev/null 2>&1' \
    --devices t --version 1.2.3
[[ -e $ready ]] || { echo "FAIL: the emulator session did not start"; cat "$work/emu.out"; exit 1; }
writes() { grep ' write ' "$log" | sed 's/.* write //'; }
text() { tr -d '\r' <"$work/$1"; }

# serve NAME ARG...: starts tovrikctl.exe serve in the background (pid in $app) and waits for
# its JSON line, which it prints once every listener is bound.
serve() {
    local name=$1
    shift
    "$wine_run" "$ctl" --json serve --listen 127.0.0.1:0 "$@" >"$work/$name" 2>"$work/$name.err" \
        </dev/null &
    app=$!
    for _ in $(seq 300); do
        text "$name" | grep -q '"listening"' && return 0
        kill -0 "$app" 2>/dev/null || break
        sleep 0.1
    done
    return 1
}

# Wine's HID stack finds the emulated device a moment after the wineserver starts.
for _ in $(seq 60); do
    serve serve && break
    kill "$app" 2>/dev/null
    wait "$app"
    sleep 0.5
done
first=$app
grep -q 'VXI-11 portmapper on port 111, core channel on port 9009' <(text serve.err) ||
    fail "serve said: $(text serve.err)"

"$python" - "$log" <<'PY' || fail "pyvisa-py over VXI-11"
import re, sys, pyvisa
rm = pyvisa.ResourceManager("@py")
inst = rm.open_resource("TCPIP::127.0.0.1::INSTR", read_termination="\n", timeout=10000)
idn = inst.query("*IDN?")
assert re.fullmatch(r"TOVRIK,TOVRIK DDS,[^,]+,01/02/03", idn), idn
assert inst.query("*RST;OUTP ON;FREQ 12.8 MHZ;*OPC?") == "1"
last = [l.split(" write ")[1].strip() for l in open(sys.argv[1]) if " write " in l][-1]
assert last == "00 79 56 34 12 01 00 00", last
inst.write("*IDN?")
assert inst.read_stb() & 0x10, "no MAV while an answer waits"
inst.clear()
assert inst.read_stb() & 0x10 == 0, "clear left the answer"
assert inst.query("OUTP OFF;*OPC?") == "1"
inst.close()
rm.close()
PY

if command -v lxi >/dev/null; then
    answer=$(timeout 20 lxi scpi -a 127.0.0.1 '*IDN?' 2>&1)
    [[ $answer == TOVRIK,* ]] || fail "lxi scpi answered '$answer'"
    echo "lxi scpi: $answer"
else
    echo "lxi-tools is not installed: lxi scpi not tried"
fi

# A second server finds port 111 taken (SO_EXCLUSIVEADDRUSE), says so, and serves by the core
# port it was given; the first one's portmapper still answers, over UDP too.
if serve second --vxi11-port 9011; then
    grep -q 'port 111 is taken and its rpcbind did not take the registration' \
        <(text second.err) || fail "the second server said: $(text second.err)"
    "$python" - <<'PY' || fail "the second server's core port, or the first one's portmapper"
import socket, struct
# pyvisa-py 0.5 always asks the portmapper: create_link, write and read by hand.
def call(sock, xid, proc, args):
    record = struct.pack(">10I", xid, 0, 2, 0x0607AF, 1, proc, 0, 0, 0, 0) + args
    sock.sendall(struct.pack(">I", 0x80000000 | len(record)) + record)
    data = b""
    while len(data) < 4 or len(data) < 4 + (struct.unpack(">I", data[:4])[0] & 0x7FFFFFFF):
        data += sock.recv(4096)
    return data[28:]  # the results, after the mark and the accepted reply's header
core = socket.create_connection(("127.0.0.1", 9011), timeout=10)
error, link = struct.unpack(">2I", call(core, 1, 10, struct.pack(">4I", 0, 0, 0, 5) + b"inst0\0\0\0")[:8])
assert error == 0, error
call(core, 2, 11, struct.pack(">5I", link, 5000, 0, 8, 6) + b"*IDN?\n\0\0")
answer = call(core, 3, 12, struct.pack(">6I", link, 1024, 5000, 0, 0, 0))
assert answer[12:].startswith(b"TOVRIK,"), answer
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(5)
s.sendto(struct.pack(">14I", 1, 0, 2, 100000, 2, 3, 0, 0, 0, 0, 0x0607AF, 1, 6, 0),
         ("127.0.0.1", 111))
assert s.recv(100)[-4:] == struct.pack(">I", 9009)
PY
    kill -INT "$app"
    wait "$app"
else
    fail "the second server did not start: $(text second.err)"
fi

app=$first
kill -INT "$app"
wait "$app"
status=$?
app=""
((status == 58)) || fail "serve ended with $status on Ctrl+C"
[[ $(writes | tail -1) == '00 00 00 00 00 01 00 00' ]] || fail "serve sent no stop report on Ctrl+C"

if ((failures)); then
    for f in "$work"/*.err "$work/emu.out"; do echo "--- $f"; cat "$f"; done
    echo "--- emulator log (last 20)"; tail -20 "$log"
    exit 1
fi
echo "passed"

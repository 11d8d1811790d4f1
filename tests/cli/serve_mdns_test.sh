#!/usr/bin/env bash
# tovrikctl serve's mDNS announcement, under tovrik-emu.
#   serve_mdns_test.sh EMU CTL without-avahi  no daemon to talk to: it serves, and says so once
#   serve_mdns_test.sh EMU CTL with-avahi     a private avahi-daemon sees the service and its
#                                             TXT records come, and go when the server stops
# with-avahi needs root for a network and mount namespace (avahi-daemon gives its run folder
# to its own user, which a user namespace cannot map); it skips with 77 elsewhere.
set -uo pipefail
emu=$1 ctl=$2 mode=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/tovrik-mdns.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# A bus with no policy to speak of: only this test's processes reach it.
start_bus() {
    cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --config-file="$work/bus.conf" --fork --print-pid >"$work/bus.pid" || return 1
    pids+=("$(cat "$work/bus.pid")")
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus
}

# Starts the server on every interface, port 0; sets $port and $server.
start_server() {
    "$emu" --devices t --log "$work/emu.log" -- "$ctl" serve --listen 0.0.0.0:0 \
        >"$work/out" 2>"$work/err" &
    server=$!
    pids+=("$server")
    for _ in $(seq 100); do
        port=$(sed -n 's/^listening on 0\.0\.0\.0:\([0-9]*\) .*/\1/p' "$work/out")
        [[ -n $port ]] && return 0
        sleep 0.1
    done
    fail "server did not start: $(cat "$work/out" "$work/err")"
    return 1
}

idn() {
    exec 3<>"/dev/tcp/127.0.0.1/$port" || return 1
    echo '*IDN?' >&3
    local line=""
    read -r -t 5 line <&3
    exec 3>&-
    echo "${line%$'\r'}"
}

stop_server() {
    kill -TERM "$server"
    wait "$server" || fail "server exited with $?"
}

mdns_lines() { grep -c 'mDNS' "$work/err"; }

if [[ $mode == without-avahi ]]; then
    # No system bus at all, then a bus without avahi-daemon on it.
    for case in no-bus no-daemon; do
        if [[ $case == no-bus ]]; then
            export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/nothing
        elif ! command -v dbus-daemon >/dev/null || ! start_bus; then
            echo "skip $case: no dbus-daemon"
            continue
        fi
        start_server || continue
        answer=$(idn)
        [[ $answer == TOVRIK,* ]] || fail "$case: *IDN? answered '$answer'"
        stop_server
        [[ $(mdns_lines) == 1 ]] || fail "$case: stderr: $(cat "$work/err")"
        echo "ok $case: $(grep mDNS "$work/err")"
    done
    exit $((failures > 0))
fi

# --- with-avahi: inside a network and mount namespace of its own ---------------------------
if [[ ${TOVRIK_MDNS_INNER:-} != 1 ]]; then
    for tool in avahi-daemon avahi-browse dbus-daemon ip unshare; do
        command -v "$tool" >/dev/null || { echo "skip: no $tool (scripts/deps.sh installs it)"; exit 77; }
    done
    [[ $(id -u) == 0 ]] || { echo "skip: needs root for avahi-daemon in a namespace"; exit 77; }
    TOVRIK_MDNS_INNER=1 unshare -nm "$0" "$@"
    status=$?
    [[ $status == 2 ]] && { echo "skip: no network namespace with a veth pair here"; exit 77; }
    exit $status
fi

# A veth pair gives avahi a multicast interface; /run is private so its pid file and socket
# meet no host daemon.
{ ip link add v0 type veth peer name v1 && ip link set v1 up && ip link set v0 up &&
    ip addr add 10.77.0.1/24 dev v0 && ip link set lo up; } 2>/dev/null || exit 2
mount -t tmpfs tmpfs /run && mkdir /run/avahi-daemon || exit 2
start_bus || exit 2
printf '[server]\nuse-ipv6=no\nallow-interfaces=v0\n[publish]\npublish-workstation=no\n' \
    >"$work/avahi.conf"
avahi-daemon -f "$work/avahi.conf" --no-drop-root --no-chroot --no-rlimits >"$work/avahi.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do avahi-daemon -c 2>/dev/null && break; sleep 0.1; done

browse() { avahi-browse -rpt _scpi-raw._tcp 2>/dev/null | grep '^=' ; }
start_server || exit 1
serial=$(idn | cut -d, -f3)
for _ in $(seq 50); do [[ -n $(browse) ]] && break; sleep 0.2; done
found=$(browse | head -n 1)
IFS=';' read -r _ _ _ name _ _ _ _ got_port txt <<<"$found"
[[ $got_port == "$port" ]] || fail "announced port '$got_port', serving on $port ($found)"
for want in '"Manufacturer=TOVRIK"' '"Model=TOVRIK DDS"' "\"SerialNumber=$serial\""; do
    [[ $txt == *"$want"* ]] || fail "TXT lacks $want: $txt"
done
[[ $name == "TOVRIK\\032DDS\\032$serial" ]] || fail "instance name '$name'"
echo "ok announced: $found"
if command -v lxi >/dev/null; then
    lxi discover -m >"$work/lxi" 2>&1
    grep -q "scpi-raw service on port $port" "$work/lxi" || fail "lxi discover -m: $(cat "$work/lxi")"
    echo "ok lxi discover -m: $(grep -m1 Found "$work/lxi")"
else
    echo "skip lxi discover -m: no lxi-tools"
fi
stop_server
for _ in $(seq 50); do [[ -z $(browse) ]] && break; sleep 0.2; done
[[ -z $(browse) ]] && echo "ok withdrawn on exit" || fail "still announced after exit: $(browse)"
[[ $(mdns_lines) == 0 ]] || fail "mDNS complained with a daemon running: $(cat "$work/err")"
exit $((failures > 0))

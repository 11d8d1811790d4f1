#!/usr/bin/env bash
# The project's programs keep out of a TOVRIK that another of them holds (advisory flock on
# the hidraw node; other HID software that takes no lock is not kept out). Inside tovrik-emu
# --devices o,t: a running TOVRIK shuts out a library client and a second TOVRIK; once it is
# gone the client sends; a library call in progress (its shared lock) shuts out TOVRIK; tovrikctl
# is shut out by TOVRIK, and its sweep (an exclusive hold) shuts out TOVRIK.
# Usage: holds.sh TOVRIK TOVRIK_EMU TOVRIK_CLIENT TOVRIKCTL
set -euo pipefail
tovrik=$1 emu=$2 client=$3 ctl=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/inner.sh" <<'INNER'
set -u
fail() { echo "FAIL: $*"; exit 1; }
ask() { printf '%s\n' "$1" | "$CLIENT"; }
[[ $(ask "find 0") == "find 2 12 /dev/hidraw1" ]] || fail "no TOVRIK to begin with: $(ask "find 0")"

"$TOVRIK" 2>"$WORK/first.err" &
first=$!
for _ in $(seq 100); do [[ $(ask "find 0") == "find 0 0 " ]] && break; sleep 0.1; done
[[ $(ask "find 0") == "find 0 0 " ]] || fail "the library still finds a device TOVRIK holds"
[[ $(ask "out /dev/hidraw1 305419896 1") == "out 1" ]] || fail "the library sent to a held device"
[[ $(ask "suspend /dev/hidraw1") == "suspend -1" ]] || fail "suspend reached a held device"
timeout 3 "$TOVRIK" 2>"$WORK/second.err"
grep -qxF "/dev/hidraw1: held by another program" "$WORK/second.err" ||
    fail "second TOVRIK: $(cat "$WORK/second.err")"
"$CTL" set 1M 2>"$WORK/ctl.err" && fail "tovrikctl sent to a held device"
grep -q "held by another program" "$WORK/ctl.err" || fail "tovrikctl: $(cat "$WORK/ctl.err")"
grep -q ' write ' "$TOVRIK_EMU_LOG" && fail "something was written while TOVRIK held the device"

kill "$first"; wait "$first"
[[ $(ask "out /dev/hidraw1 305419896 1") == "out 0" ]] || fail "the library cannot send once TOVRIK is gone"

# libtovrik takes a shared flock for the length of a call; hold one as a call in progress does.
flock -s /dev/hidraw1 sleep 4 &
holder=$!
sleep 0.5
timeout 2 "$TOVRIK" 2>"$WORK/third.err"
wait "$holder"
grep -qxF "/dev/hidraw1: held by another program" "$WORK/third.err" ||
    fail "TOVRIK during a library call: $(cat "$WORK/third.err")"

"$CTL" sweep 1M 2M --points 2 --dwell 2s >/dev/null 2>&1 &
sweeper=$!
sleep 0.5
timeout 1 "$TOVRIK" 2>"$WORK/fourth.err"
wait "$sweeper" || fail "the sweep failed"
grep -qxF "/dev/hidraw1: held by another program" "$WORK/fourth.err" ||
    fail "TOVRIK during a tovrikctl sweep: $(cat "$WORK/fourth.err")"
echo ok
INNER

result=$(TOVRIK=$tovrik CLIENT=$client CTL=$ctl WORK=$work XDG_CONFIG_HOME=$work QT_QPA_PLATFORM=offscreen \
    "$emu" --devices o,t --log "$work/log" --control "$work/fifo" -- bash "$work/inner.sh" \
    2>"$work/stderr" || true)
if [[ $result != ok ]]; then
    echo "${result:-FAIL: no result}" >&2
    cat "$work/stderr" >&2
    exit 1
fi
echo "TOVRIK, a second TOVRIK, a library client and tovrikctl kept out of each other's holds"

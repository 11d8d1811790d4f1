#!/usr/bin/env bash
# Unplugs and replugs the emulated TOVRIK CYCLES times while TOVRIK sends (the output key
# after every replug, and every 50th cycle once more while the device is gone). Holds: every
# send after a replug reaches the device, TOVRIK's descriptor count ends where it began, the
# program still answers; at the end its settings file is read-only and TOVRIK says so on
# standard error and leaves it alone.
# Usage: unplug_soak.sh TOVRIK TOVRIK_EMU CYCLES
set -euo pipefail
# shellcheck source=../support/x11.sh
. "$(dirname "$0")/../support/x11.sh"
tovrik=$1 emu=$2 cycles=$3

fail() { echo "FAIL: $*" >&2; exit 1; }
writes() { grep -c ' write ' "$log" || true; }
wait_writes() {  # until the log holds $1 writes, within 10 s
    for _ in $(seq 500); do [[ $(writes) -ge $1 ]] && return 0; sleep 0.02; done
    fail "expected $1 writes, log has $(writes)"
}
control() {
    local before
    before=$(grep -c "^control $1 ok" "$log" || true)
    echo "$1" >"$fifo"
    for _ in $(seq 500); do
        [[ $(grep -c "^control $1 ok" "$log" || true) -gt $before ]] && return 0
        sleep 0.02
    done
    fail "no 'control $1 ok'"
}
windows() { xdotool search --onlyvisible --name '^TOVRIK$' 2>/dev/null | sort || true; }
fds() { ls "/proc/$tovrik_pid/fd" | wc -l; }
fd_list() { for f in /proc/$tovrik_pid/fd/*; do readlink "$f"; done | sort | tr "\n" " "; }

work=$(mktemp -d)
pid="" xvfb=""
trap 'kill $pid $xvfb 2>/dev/null || true; chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
log=$work/emu.log fifo=$work/control
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME"
ini=$XDG_CONFIG_HOME/TOVRIK.INI
printf '; kept as it is\r\r\n[Profile]\nStep=5\n' >"$ini"

start_xvfb

touch "$log"
"$emu" --devices t --log "$log" --control "$fifo" -- "$tovrik" 2>"$work/stderr" &
pid=$!
win=$(wait_window '^TOVRIK$' 20)
[[ -n $win ]] || fail "no TOVRIK window"
tovrik_pid=$(xdotool getwindowpid "$win")
sleep 0.5
xdotool windowfocus --sync "$win"

start=$(date +%s%N)
xdotool key o  # output on
wait_writes 1
sent=1
# Cycle 0 warms up: the first message box maps Qt's icon cache for good.
for ((i = 0; i <= cycles; i++)); do
    ((i == 1)) && fds_before=$(fds) list_before=$(fd_list)
    control "unplug 0"
    if ((i == 0 || i % 50 == 0)); then
        # A send into the void: one message box, closed with Enter.
        xdotool key o
        box=""
        for _ in $(seq 250); do
            box=$(comm -13 <(echo "$win") <(windows) | head -1)
            [[ -n $box ]] && break
            sleep 0.02
        done
        [[ -n $box ]] || fail "cycle $i: no message box for the failed send"
        xdotool windowfocus --sync "$box" key Return
        for _ in $(seq 250); do [[ $(windows) == "$win" ]] && break; sleep 0.02; done
        xdotool windowfocus --sync "$win"
    fi
    control "replug 0"
    xdotool key o
    sent=$((sent + 1))
    wait_writes $sent
done
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
fds_after=$(fds)
[[ $fds_after -eq $fds_before ]] || fail "descriptors: $fds_before before ($list_before), $fds_after after ($(fd_list))"

# Still answers: one more send, then a read-only settings file at exit.
xdotool key o
wait_writes $((sent + 1))
before_exit=$(cat "$ini")
chmod 0444 "$ini"
xdotool key alt+F4
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "TOVRIK still running"
wait $pid || fail "TOVRIK exit status $?"
[[ $(cat "$ini") == "$before_exit" ]] || fail "the read-only settings file changed"
grep -qxF "TOVRIK: cannot save $ini: Permission denied" "$work/stderr" ||
    fail "no reason on standard error: $(cat "$work/stderr")"
printf '%d unplug/replug cycles in %d.%03d s, %d sends, %d descriptors before and after\n' \
    "$cycles" $((elapsed_ms / 1000)) $((elapsed_ms % 1000)) "$((sent + 1))" "$fds_before"

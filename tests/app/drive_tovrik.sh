#!/usr/bin/env bash
# Drives the real TOVRIK inside tovrik-emu --devices t on a private X display (Xvfb) with
# xdotool, then checks the reports in the emulator's log and the settings file it leaves.
# Usage: drive_tovrik.sh TOVRIK TOVRIK_EMU exit|close|spin-unplugged
# With TOVRIK_DRIVE_OUT=DIR the log's write lines and the settings file are copied there.
set -euo pipefail
# shellcheck source=../support/x11.sh
. "$(dirname "$0")/../support/x11.sh"
tovrik=$1 emu=$2 mode=$3

fail() { echo "FAIL: $*" >&2; exit 1; }
wait_log() {  # a line starting with $1, within 10 s
    for _ in $(seq 100); do grep -q "^$1" "$log" && return 0; sleep 0.1; done
    fail "no log line '$1'; log: $(cat "$log")"
}
windows() { xdotool search --onlyvisible --name '^TOVRIK$' 2>/dev/null | sort || true; }

work=$(mktemp -d)
pid="" xvfb=""
trap 'kill $pid $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
log=$work/emu.log
config=$work/config
export XDG_CONFIG_HOME=$config QT_QPA_PLATFORM=xcb
mkdir -p "$config"
ini=$config/TOVRIK.INI

start_xvfb
if [[ $mode == close ]]; then
    printf '[Profile]\nOutStart=1\nStep=5\n' >"$ini"
fi

touch "$log"
fifo=$work/control
"$emu" --devices t --log "$log" --control "$fifo" -- "$tovrik" 2>"$work/stderr" &
pid=$!
win=$(wait_window '^TOVRIK$' 20)
[[ -n $win ]] || fail "no TOVRIK window"
sleep 0.5
xdotool windowfocus --sync "$win"

if [[ $mode == exit ]]; then
    # The version command reads through the handle kept open since start-up: its get-feature
    # shows the window found and opened the device ("TOVRIK 検出しました").
    xdotool key alt+v
    wait_log "hidraw0 get-feature"
    box=""
    for _ in $(seq 100); do
        box=$(comm -13 <(echo "$win") <(windows) | head -1)
        [[ -n $box ]] && break
        sleep 0.1
    done
    [[ -n $box ]] || fail "no version message box"
    xdotool windowfocus --sync "$box" key Return
    for _ in $(seq 100); do [[ $(windows) == "$win" ]] && break; sleep 0.1; done
    xdotool windowfocus --sync "$win"

    xdotool key o
    wait_log "hidraw0 write 00 8E E3 38 0E 01 00 00"
    xdotool key F2 1 2 period 5 Return
    wait_log "hidraw0 write 00 2A 01 00 00 01 00 00"
    xdotool key Escape Return  # neither closes the window
    sleep 0.3
    kill -0 $pid 2>/dev/null || fail "Enter or Escape ended the program"
    xdotool key x
    wait_log "hidraw0 write 00 00 00 00 00 01 00 00"
    expected_writes=3
elif [[ $mode == spin-unplugged ]]; then
    # One ordinary click on the lower spin arrow while the device is gone: exactly one
    # message box, and once it is closed nothing more is stepped or sent.
    xdotool key o
    wait_log "hidraw0 write 00 8E E3 38 0E 01 00 00"
    echo "unplug 0" >"$fifo"
    wait_log "control unplug 0 ok"
    eval "$(xdotool getwindowgeometry --shell "$win")"
    # The arrow's centre in dialog units (240, 72) of 258 x 161, the menu bar above them.
    xdotool mousemove --window "$win" $((WIDTH * 240 / 258)) $((HEIGHT - (HEIGHT - 22) * 89 / 161))
    xdotool mousedown 1
    sleep 0.15
    xdotool mouseup 1
    sleep 2
    boxes=$(comm -13 <(echo "$win") <(windows))
    [[ $(echo "$boxes" | grep -c .) -eq 1 ]] || fail "message boxes after one click: $(echo "$boxes" | grep -c .)"
    echo "replug 0" >"$fifo"
    wait_log "control replug 0 ok"
    xdotool windowfocus --sync "$(echo "$boxes" | head -1)" key Return
    for _ in $(seq 100); do [[ $(windows) == "$win" ]] && break; sleep 0.1; done
    [[ $(windows) == "$win" ]] || fail "the message box did not close"
    sleep 2
    writes=$(grep -c ' write ' "$log" || true)
    [[ $writes -eq 1 ]] || fail "sent with nobody touching the window: $(grep ' write ' "$log")"
    xdotool windowfocus --sync "$win" key alt+F4
    expected_writes=1
else
    wait_log "hidraw0 write 00 8E E3 38 0E 01 00 00"  # OutStart switched the output on
    xdotool key alt+F4
    expected_writes=1
fi

for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "TOVRIK still running"
wait $pid || fail "TOVRIK exit status $?"
writes=$(grep -c ' write ' "$log" || true)
[[ $writes -eq $expected_writes ]] || fail "unexpected writes: $(grep ' write ' "$log")"

[[ -f $ini ]] || fail "no settings file"
keys=$(sed -n 's/^\(\[[^]]*\]\).*/\1/p; s/^\([^=[]*\)=.*/\1/p' "$ini" | tr '\n' ' ')
[[ $keys == "[Profile] Freq Step Display SaveFreq RevSpin RevWheel Lock OutStart [Preset] 0 1 2 " ||
   ($mode == close && $keys == "[Profile] OutStart Step Freq Display SaveFreq RevSpin RevWheel Lock [Preset] 0 1 2 ") ]] ||
    fail "settings keys: $keys"
if [[ $mode == exit ]]; then
    grep -qx 'Freq=12.50' "$ini" || fail "Freq: $(cat "$ini")"
    grep -qx 'Step=2' "$ini" || fail "Step: $(cat "$ini")"
elif [[ $mode == spin-unplugged ]]; then
    grep -qx 'Freq=10100000.00' "$ini" || fail "not exactly one step: $(cat "$ini")"
else
    grep -qx 'Step=5' "$ini" || fail "Step: $(cat "$ini")"
fi
# For comparisons (the Windows build's end-to-end test): the reports and the settings file.
if [[ -n ${TOVRIK_DRIVE_OUT:-} ]]; then
    mkdir -p "$TOVRIK_DRIVE_OUT"
    grep ' write ' "$log" >"$TOVRIK_DRIVE_OUT/writes"
    cp "$ini" "$TOVRIK_DRIVE_OUT/TOVRIK.INI"
fi
echo "TOVRIK sent the expected reports ($mode) and saved its settings"

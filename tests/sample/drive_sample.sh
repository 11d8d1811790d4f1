#!/usr/bin/env bash
# Drives the real tovrik-sample inside tovrik-emu --devices o,t on a private X display (Xvfb)
# with xdotool: dismisses the start-up message, presses Command1 and Command2 and checks the
# reports in the emulator's log. With a third argument it also saves a screenshot of the
# window there.
# Usage: drive_sample.sh TOVRIK_SAMPLE TOVRIK_EMU [SCREENSHOT.png]
set -euo pipefail
# shellcheck source=../support/x11.sh
. "$(dirname "$0")/../support/x11.sh"
sample=$1 emu=$2 shot=${3:-}

fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
pid="" xvfb=""
trap 'kill $pid $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
log=$work/emu.log
export QT_QPA_PLATFORM=xcb

wait_log() {  # the line, within 10 s
    for _ in $(seq 100); do grep -qxF "$1" "$log" && return 0; sleep 0.1; done
    fail "no log line '$1'"
}
click_twips() {  # window, x, y in the window's twips (client area 4665 x 3165)
    local WIDTH HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove --window "$1" $((WIDTH * $2 / 4665)) $((HEIGHT * $3 / 3165)) click 1
}

start_xvfb

touch "$log"
"$emu" --devices o,t --log "$log" -- "$sample" &
pid=$!

box=$(wait_window '^tovrik-sample$' 20)
[[ -n $box ]] || fail "no start-up message box"
if xdotool search --onlyvisible --name '^Form1$' >/dev/null; then
    fail "Form1 shown before the start-up message was closed"
fi
xdotool windowfocus --sync "$box" key Return
form=$(wait_window '^Form1$' 20)
[[ -n $form ]] || fail "Form1 did not appear"
sleep 0.5  # let it paint

if [[ -n $shot ]]; then
    import -window "$form" "$shot"
fi

click_twips "$form" $((3480 + 975 / 2)) $((2520 + 495 / 2))  # Command1
wait_log "hidraw1 write 00 79 56 34 12 01 00 00"
click_twips "$form" $((1680 + 1695 / 2)) $((2520 + 495 / 2))  # Command2
wait_log "hidraw1 write 00 00 00 00 00 05 00 00"
[[ $(grep -c ' write ' "$log") -eq 2 ]] || fail "unexpected writes: $(grep ' write ' "$log")"
echo "tovrik-sample sent the frequency and power-saving reports"

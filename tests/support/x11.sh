# shellcheck shell=bash
# X11 helpers for the tests that drive real windows with xdotool.

# start_xvfb [WxHxD]: a private X server on a display it picks itself (no race with parallel
# tests); its pid in $xvfb, DISPLAY (and TOVRIK_WINE_DISPLAY) exported; uses $work. Without key
# autorepeat: on a loaded machine a key's release can come late enough for the server to repeat
# the key. Exits the test when the server does not start.
start_xvfb() {
    rm -f "$work/display"
    Xvfb -displayfd 3 -ardelay 30000 -screen 0 "${1:-1024x768x24}" -nolisten tcp \
        3>"$work/display" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
    [[ -s $work/display ]] || { echo "FAIL: Xvfb did not start" >&2; exit 1; }
    DISPLAY=:$(head -1 "$work/display")
    export DISPLAY TOVRIK_WINE_DISPLAY=$DISPLAY
}

# wait_window NAME [SECONDS]: the first visible window whose name matches NAME, within SECONDS
# (default 20); nothing when there is none. xdotool exits on the X error that a window closing
# under its search raises (Wine opens and closes helper windows at start-up), so a failed
# search is tried again, not taken as final.
wait_window() {
    local name=$1 tries=$((${2:-20} * 10)) w
    for ((; tries > 0; tries--)); do
        w=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -1)
        [[ -n $w ]] && { echo "$w"; return 0; }
        sleep 0.1
    done
    return 0
}

# shellcheck shell=bash
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

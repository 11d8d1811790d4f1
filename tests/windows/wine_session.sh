# shellcheck shell=bash
# Sourced by the Wine tests that drive windows: failure counting, a private X server, and a
# wineserver session started inside tovrik-emu, so that Wine's HID stack sees the emulated
# devices while the programs, started outside, reach them through it. Expects $work,
# $wine_run and $emu; a test that starts a program keeps its pid in $app.
log=$work/emu.log stop=$work/stop ready=$work/ready
failures=0 xvfb="" emu_pid="" app=""
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# no_window NAME: fails and ends the test, with what the screen held and whether the program
# still ran, since every later step needs the window.
no_window() {
    local id shown=""
    for id in $(xdotool search --name . 2>/dev/null); do
        shown+=" '$(xdotool getwindowname "$id" 2>/dev/null)'"
        xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$id" && shown+="(visible)"
    done
    local state=ended
    [[ -n $app ]] && kill -0 "$app" 2>/dev/null && state=running
    fail "no window '$1' (the program $state; windows:${shown:- none})"
    echo "--- emulator log"; cat "$log"
    exit 1
}
cleanup() {
    [[ -n $app ]] && kill "$app" 2>/dev/null
    touch "$stop"
    [[ -n $emu_pid ]] && wait "$emu_pid" 2>/dev/null
    [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
}
trap cleanup EXIT
# shellcheck source=../support/x11.sh
. "$(dirname "${BASH_SOURCE[0]}")/../support/x11.sh"

# start_session SETUP EMU_ARG...: tovrik-emu with EMU_ARGs around a wineserver that lasts
# until the test ends. SETUP is shell text run inside first, with "$1" the Wine runner.
start_session() {
    local setup=$1
    shift
    "$wine_run" --server -k 2>/dev/null
    "$wine_run" --server -w 2>/dev/null
    touch "$log"
    "$emu" --log "$log" "$@" -- sh -c '
        "$1" --server -p
        '"$setup"'
        touch "$3"
        while [ ! -e "$2" ]; do sleep 0.2; done
        "$1" --server -k' sh "$wine_run" "$stop" "$ready" >"$work/emu.out" 2>&1 &
    emu_pid=$!
    # Told by a file, not by reading the output, which the loader and Wine share.
    for _ in $(seq 300); do [[ -e $ready ]] && break; sleep 0.1; done
}

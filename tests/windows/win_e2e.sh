#!/usr/bin/env bash
# tovrik.dll end to end: a Windows client under Wine, bound by name, against TOVRIKs emulated
# by tovrik-emu and reached through Wine's HID stack (winebus over hidraw).
#   win_e2e.sh TOVRIK_EMU WINE_RUN CLIENT_EXE WORK_DIR
# Exit 0 passed, 1 failed, 77 skipped (no emulator, no Wine, or Wine cannot run the client).
set -uo pipefail
emu=$1 wine_run=$2 client=$3 work=$4
skip=77

if [[ ! -x $emu ]]; then
    echo "SKIP: no tovrik-emu at '$emu' (configure with -DTOVRIK_EMU=<native build>/tools/tovrik-emu)"
    exit $skip
fi
# A client that cannot run here says why and exits 77, before any emulator is started.
"$wine_run" "$client" </dev/null
status=$?
if ((status == skip)); then exit $skip; fi
if ((status != 0)); then echo "FAIL: the client does not start under Wine (exit $status)"; exit 1; fi

rm -rf "$work" && mkdir -p "$work"
log=$work/emu.log noise=$work/noise.log
fifo=$work/control
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The wineserver has to start inside the test bed, so that the HID stack it brings up sees
# the emulated devices; one left over from an earlier run would not.
"$wine_run" --server -k 2>/dev/null
"$wine_run" --server -w 2>/dev/null
coproc CLIENT {
    "$emu" --devices o,t,o,t --version 1.2.3 --log "$log" --control "$fifo" -- \
        sh -c '"$1" --server -p; cd "$(dirname "$2")" && "$1" "$2"; rc=$?;
               "$1" --server -k; "$1" --server -w; exit $rc' sh "$wine_run" "$client" 2>"$work/stderr.log"
}
client_in=${CLIENT[1]}
client_out=${CLIENT[0]}

# The loader, Wine and the emulator may print anything on either stream (a 32-bit loader
# under LD_PRELOAD does): answers are the lines starting with "= ", the rest is kept aside.
call() {  # call LINE -> the client's answer in $answer
    local line
    answer="<no answer to $1>"
    echo "$1" >&"$client_in"
    while IFS= read -r -t 60 line <&"$client_out"; do
        line=${line%$'\r'}
        if [[ $line == "= "* ]]; then
            answer=${line#= }
            return
        fi
        echo "$line" >>"$noise"
    done
}
expect() {  # expect LINE ANSWER
    call "$1"
    [[ $answer == "$2" ]] || fail "'$1' answered '$answer', expected '$2'"
}
control() {  # control COMMAND: carried out by the emulator, seen in its log
    local i
    echo "$1" >"$fifo"
    for ((i = 0; i < 100; i++)); do
        grep -qxF "control $1 ok" "$log" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "emulator did not confirm '$1'"
}
writes() { grep -c ' write ' "$log" 2>/dev/null; }
tovrik_path='^\\\\\?\\hid#vid_1774&pid_9851'

expect "wait 2 30" "wait ok"

# The walk: each TOVRIK once, with resume and wrap; Wine's own HID interfaces count as
# positions like any other.
call "find 0"
read -r _ first_next first_len first_strlen first <<<"$answer"
call "find $first_next"
read -r _ second_next _ _ second <<<"$answer"
echo "walk: $first at $((first_next - 1)), $second at $((second_next - 1))"
[[ $first =~ $tovrik_path && $second =~ $tovrik_path && $first != "$second" ]] ||
    fail "the walk found '$first' and '$second'"
((first_next > 0 && second_next > first_next)) || fail "positions $first_next, $second_next"
[[ $first_len == "${#first}" && $first_strlen == "${#first}" ]] ||
    fail "BSTR of $first_len bytes ($first_strlen as a C string) for a path of ${#first}"
expect "find $second_next" "find 0 0 0 "
expect "find 0" "find $first_next ${#first} ${#first} $first"
expect "find $((first_next - 1))" "find $first_next ${#first} ${#first} $first"

# Reports, as the emulator receives them.
expect "out $first 305419897 1" "out 0"
expect "out $first 305419897 0" "out 0"
expect "suspend $first" "suspend 0"
expect "vers $first" "vers 8 8 01/02/03"
expect "out - 305419897 1" "out 1"
expect "vers -" "vers 0 0 "
sleep 0.2
mapfile -t sent < <(grep ' write ' "$log")
node=${sent[0]%% *}
expected=("$node write 00 79 56 34 12 01 00 00" "$node write 00 00 00 00 00 01 00 00"
          "$node write 00 00 00 00 00 05 00 00")
[[ ${sent[*]} == "${expected[*]}" ]] || fail "emulator log: ${sent[*]}"
[[ $node == hidraw1 ]] || fail "the first TOVRIK is $node, not hidraw1 (devices o,t,o,t)"
echo "emulator: ${sent[0]}"

# A refused write: a negative status with the system's error code, DDSOut 1.
control "refuse-write 1 on"
call "suspend $first"
[[ $answer =~ ^suspend\ -[0-9]+$ && $answer != "suspend -1" ]] ||
    fail "refused suspend answered '$answer'"
echo "refused write: $answer"
expect "out $first 305419897 1" "out 1"
control "refuse-write 1 off"

# Unplugged: not opened (-1), nothing sent; replugged: found and reachable again.
control "unplug 1"
expect "wait 1 30" "wait ok"
before=$(writes)
expect "suspend $first" "suspend -1"
expect "out $first 305419897 1" "out 1"
expect "vers $first" "vers 0 0 "
[[ $(writes) == "$before" ]] || fail "something was sent to an unplugged device"
control "replug 1"
expect "wait 2 30" "wait ok"
call "find 0"
read -r _ _ _ _ again <<<"$answer"
expect "out $again 305419897 1" "out 0"

expect quit quit
wait "$CLIENT_PID"
status=$?
((status == 0)) || fail "the emulator and client ended with $status"
if ((failures)); then
    echo "--- emulator log"; cat "$log"
    echo "--- other output"; cat "$noise" "$work/stderr.log" 2>/dev/null
    exit 1
fi
echo "passed"

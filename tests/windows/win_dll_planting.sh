#!/usr/bin/env bash
# hid.dll and winmm.dll planted beside tovrik.dll's client and tovrikctl.exe, as in a folder
# of downloads: neither program loads them (the planted DLL leaves a mark when loaded).
#   win_dll_planting.sh WINE_RUN PLANTED_DLL CLIENT_EXE TOVRIK_DLL TOVRIKCTL_EXE WORK_DIR
#   exit 0, 1 failed, 77 skipped
set -uo pipefail
wine_run=$1 planted=$2 client=$3 dll=$4 ctl=$5 work=$6
"$wine_run" --can-run || exit $?

rm -rf "$work" && mkdir -p "$work"
cp "$client" "$dll" "$ctl" "$work/"
for name in hid winmm; do cp "$planted" "$work/$name.dll"; done
mark=$work/planted-loaded
export TOVRIK_PLANTED_MARK="Z:${mark//\//\\}"
# As on Windows, where a DLL beside the program comes before the system's copy.
export TOVRIK_WINE_DLLOVERRIDES="hid,winmm=n,b"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Only standard output is read: Wine and its loader may write into standard error.
answer=$(cd "$work" && echo "find 0" | "$wine_run" "$work/$(basename "$client")" 2>"$work/err")
[[ $answer == *"= find"* ]] || fail "the client did not answer: $answer $(cat "$work/err")"
[[ -e $mark ]] && fail "tovrik.dll loaded the hid.dll beside its client"
rm -f "$mark"
# Without the emulator there is no TOVRIK to list, but the HID interfaces were enumerated.
listed=$(cd "$work" && "$wine_run" "$work/$(basename "$ctl")" --json list 2>"$work/err")
[[ $listed == *'"kind":"not-found"'* ]] ||
    fail "tovrikctl.exe list did not run: $listed $(cat "$work/err")"
[[ -e $mark ]] && fail "tovrikctl.exe loaded a DLL planted beside it"
((failures == 0)) && echo passed
exit $((failures > 0))

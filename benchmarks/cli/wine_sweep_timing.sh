#!/usr/bin/env bash
# tovrikctl.exe's 1 ms sweep under Wine; figures, not pass/fail.
#   wine_sweep_timing.sh WINDOWS_BUILD TOVRIK_EMU [RUNS]
# 1. The pacing code alone (sweep_clock_probe.exe: RunSweep, no device): when each report
#    would go out. Wine maps the waitable timer onto the Linux clock, so this measures the
#    pacing code, not Windows' scheduler.
# 2. 1,000 points to tovrik-emu --frame-us 1000 --timestamps through Wine's HID stack
#    (winedevice.exe and the wineserver between the program and hidraw): the gaps between
#    the frames that carried the reports.
set -uo pipefail
build=$(cd "$1" && pwd) emu=$2 runs=${3:-3}
wine_run=$build/wine_run.sh
here=$(cd "$(dirname "$0")" && pwd)
work=$build/wine-sweep-timing
rm -rf "$work" && mkdir -p "$work"
"$wine_run" --can-run || exit $?

for ((i = 1; i <= runs; i++)); do
    "$wine_run" "$build/bin/sweep_clock_probe.exe" "Z:$work/probe" 1000 >/dev/null 2>&1
    read -r median p99 max took <"$work/probe"
    echo "pacing code, run $i: 1000 points in $took s; gaps median $median us, p99 $p99 us, max $max us (target p99 within 100 us of 1000)"
done

# shellcheck source=../../tests/windows/wine_session.sh
. "$here/../../tests/windows/wine_session.sh"
start_session '"$1" reg.exe query "HKCU\\Software" >/dev/null 2>&1' \
    --devices t --frame-us 1000 --timestamps
for _ in $(seq 60); do "$wine_run" "$build/bin/tovrikctl.exe" list >/dev/null 2>&1 && break; sleep 0.5; done
for ((i = 1; i <= runs; i++)); do
    before=$(grep -c ' write ' "$log")
    "$wine_run" "$build/bin/tovrikctl.exe" sweep 1M 2M --points 1000 --dwell 1ms >/dev/null 2>&1
    grep ' write ' "$log" | tail -n +$((before + 1)) | /usr/bin/python3 -c '
import sys
stamps = [float(l.split()[0]) for l in sys.stdin]
gaps = sorted((b - a) * 1e6 for a, b in zip(stamps, stamps[1:]))
print("at the emulator, run %s: %d reports in %.4f s; gaps median %.0f us, p99 %.0f us, max %.0f us"
      % (sys.argv[1], len(stamps), stamps[-1] - stamps[0], gaps[len(gaps) // 2],
         gaps[int(len(gaps) * 0.99) - 1], gaps[-1]))' "$i"
done

#!/usr/bin/env bash
# Speed of tovrikctl against tovrik-emu; figures, not pass/fail.
#   cli_timing.sh TOVRIK_EMU TOVRIKCTL MINIMAL_SET [POINTS] [RUNS]
set -euo pipefail
emu=$1 ctl=$2 minimal=$3 points=${4:-1000} runs=${5:-200}
here=$(dirname "$0")
python=/usr/bin/python3
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# 1. Sweep at 1 ms dwell with full-speed USB frames: first point to stop report, and the
#    gaps between consecutive report stamps.
"$emu" --frame-us 1000 --timestamps --log "$log" -- \
    "$ctl" sweep 1M 2M --points "$points" --dwell 1ms
"$python" - "$log" "$points" <<'PY'
import statistics, sys
stamps = [float(l.split()[0]) for l in open(sys.argv[1]) if " write " in l]
points = int(sys.argv[2])
assert len(stamps) == points + 1, len(stamps)
took = stamps[-1] - stamps[0]
gaps = sorted((b - a) * 1e6 for a, b in zip(stamps, stamps[1:]))
p99 = gaps[int(len(gaps) * 0.99) - 1]
p1 = gaps[int(len(gaps) * 0.01)]
print("sweep %d points at 1 ms: %.6f s (target 1.000 s +- 0.5 %%: %+.3f %%)" % (
    points, took, (took - points / 1000) / (points / 1000) * 100))
print("report gaps: median %.1f us, p1 %.1f us, p99 %.1f us, max %.1f us (target p99 within 100 us of 1000)"
      % (statistics.median(gaps), p1, p99, gaps[-1]))
PY

# 2. SCPI round trip over loopback.
"$python" "$here/scpi_roundtrip.py" "$emu" "$ctl" "$runs"

# 3. tovrikctl set as a whole process against the minimal C program, both under the emulator.
"$emu" --log /dev/null -- "$python" "$here/process_timing.py" "$runs" \
    "$ctl"$'\x1f'set$'\x1f'12.5M "$minimal"$'\x1f'/dev/hidraw0

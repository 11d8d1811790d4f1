#!/usr/bin/env bash
# Times back-to-back writes to an emulated TOVRIK with USB frames: N writes with
# --frame-us F should take N * F microseconds, and their log stamps should lie F apart.
#   frame_timing.sh TOVRIK_EMU STACK_PROBE [N] [F]
set -euo pipefail
emu=$1 probe=$2 count=${3:-1000} frame=${4:-1000}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
result=$("$emu" --frame-us "$frame" --timestamps --log "$log" -- "$probe" burst /dev/hidraw0 "$count")
echo "$result"
awk -v n="$count" -v f="$frame" -v result="$result" '
    { t = $1 + 0; if (NR > 1) { gap = (t - last) * 1e6; if (NR == 2 || gap < min) min = gap;
                                if (gap > max) max = gap; sum += gap } last = t }
    END {
        split(result, w, " "); took = w[4]; expected = n * f / 1e6
        printf "writes %d, frame %d us: %.6f s (expected %.3f s, %+.2f %%)\n", n, f, took, expected,
               (took - expected) / expected * 100
        printf "log stamps: %d lines, gaps min %.0f us, mean %.1f us, max %.0f us\n", NR, min,
               sum / (NR - 1), max
    }' "$log"

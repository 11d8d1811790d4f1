#!/usr/bin/env bash
# Regenerates the hicolor PNGs from tovrik.xpm. Nearest-neighbour scaling keeps the pixel
# design sharp at every size; -strip keeps the files free of timestamps.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
for size in 16 32 48 64 128 256; do
    mkdir -p "$here/hicolor/${size}x${size}/apps"
    convert "$here/tovrik.xpm" -filter point -resize "${size}x${size}" -strip \
        "PNG32:$here/hicolor/${size}x${size}/apps/tovrik.png"
done

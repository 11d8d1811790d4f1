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
# The Windows programs' icon in one .ico: the small and large icon sizes at 100, 125, 150 and
# 200 % display scaling, so Windows picks an image instead of stretching one.
mkdir -p "$here/windows"
sizes=()
for size in 16 20 24 32 40 48 64; do sizes+=(\( -clone 0 -resize "${size}x${size}" \)); done
convert "$here/tovrik.xpm" -filter point "${sizes[@]}" -delete 0 -strip "$here/windows/tovrik.ico"

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
# The Windows programs' icon: 16, 32 and 48 pixels in one .ico.
mkdir -p "$here/windows"
convert "$here/tovrik.xpm" -filter point \( -clone 0 -resize 16x16 \) \( -clone 0 -resize 32x32 \) \
    \( -clone 0 -resize 48x48 \) -delete 0 -strip "$here/windows/tovrik.ico"

#!/usr/bin/env bash
# Installs the dependencies, builds TOVRIK and starts it against one emulated TOVRIK, so every
# report a click or key sends shows up decoded in this terminal. Needs an X display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target TOVRIK tovrik-emu
exec build/tools/tovrik-emu --decode --devices t -- build/app/TOVRIK

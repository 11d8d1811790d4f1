#!/usr/bin/env bash
# Format and lint gate, run first by scripts/test.sh (and alone before a commit).
#   scripts/check-style.sh [BUILD_DIR]
# clang-format over every tracked C and C++ source; clang-tidy (with the committed
# .clang-tidy) over the toolkit-free code, using BUILD_DIR's compile_commands.json.
# clang-tidy covers controller/ device/ app/settings/ app/ui/ library/ common/ cli/ tools/ only:
# with the Qt and GoogleTest headers the whole tree takes far longer than a test run on two
# cores (all of it: about 3 minutes of CPU, most of it Asio, CLI11, JSON and GLib headers).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

mapfile -t sources < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
clang-format --dry-run -Werror "${sources[@]}"
echo "clang-format: ${#sources[@]} files formatted"

if [[ ! -f $build/compile_commands.json ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
mapfile -t tidy < <(git ls-files 'controller/*.cpp' 'device/*.cpp' 'app/settings/*.cpp' \
    'app/ui/*.cpp' 'library/*.cpp' 'common/*.cpp' 'cli/*.cpp' 'tools/*.cpp' | grep -v '/windows/')
# Windows-only sources are not in a Linux build's compile database.
status=0
report=$(printf '%s\n' "${tidy[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet 2>&1) ||
    status=$?
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated|^Suppressed|^Use -header-filter' \
    <<<"$report" || true
if ((status != 0)); then
    echo "clang-tidy: findings above" >&2
    exit 1
fi
echo "clang-tidy: ${#tidy[@]} files clean"

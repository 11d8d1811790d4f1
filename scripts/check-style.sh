#!/usr/bin/env bash
# Format and lint gate, run first by scripts/test.sh (and alone before a commit).
#   scripts/check-style.sh [BUILD_DIR] [WINDOWS_BUILD_DIR]
# clang-format over every tracked C and C++ source; clang-tidy (with the committed
# .clang-tidy) over the code in the lists below: the native sources with BUILD_DIR's
# compile_commands.json, the Windows-only ones with the mingw build's (WINDOWS_BUILD_DIR,
# default build-win64, configured here when it has none). The tests and the Qt widgets
# (app/gui) are left out: their headers make clang-tidy take far longer than a test run on
# two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
win_build=${2:-build-win64}

mapfile -t sources < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
clang-format --dry-run -Werror "${sources[@]}"
echo "clang-format: ${#sources[@]} files formatted"

# One folder per line; a folder's windows/ sources and win32/ go to the mingw list.
tidy_dirs=(
    app/presenter
    app/settings
    app/ui
    app/windows
    cli
    common
    controller
    device
    library
    sample
    tools
    win32
)
patterns=()
for dir in "${tidy_dirs[@]}"; do patterns+=("$dir/*.cpp"); done
mapfile -t native < <(git ls-files "${patterns[@]}" |
    grep -v -e '/windows/' -e '^app/windows/' -e '^win32/')
mapfile -t windows < <(git ls-files "${patterns[@]}" |
    grep -e '/windows/' -e '^app/windows/' -e '^win32/')

if [[ ! -f $build/compile_commands.json ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
mingw_cxx=x86_64-w64-mingw32-g++-posix
win_args=()
if command -v "$mingw_cxx" >/dev/null; then
    if [[ ! -f $win_build/compile_commands.json ]]; then
        cmake -S . -B "$win_build" --toolchain cmake/mingw-x86_64.cmake \
            -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    # CMake gives the DLL's objects -fno-keep-inline-dllexport (hidden inline visibility), a GCC
    # flag clang refuses: clang-tidy reads a copy of the database without it.
    win_db=$(mktemp -d)
    trap 'rm -rf "$win_db"' EXIT
    sed 's/ -fno-keep-inline-dllexport//g' "$win_build/compile_commands.json" \
        >"$win_db/compile_commands.json"
    # clang knows not every GCC warning option the mingw build passes (-Wno-restrict), nor does
    # it find the mingw C++ library's headers on its own.
    win_args+=(--extra-arg=-Wno-unknown-warning-option)
    while read -r dir; do win_args+=("--extra-arg=-isystem$dir"); done < <(
        echo | "$mingw_cxx" -v -E -x c++ - 2>&1 |
            sed -n '/<...> search starts here/,/End of search/p' | grep '/c++' | sed 's/^ *//')
else
    echo "clang-tidy: no $mingw_cxx, the Windows sources are skipped (scripts/deps.sh)" >&2
    windows=()
fi

# The Windows files are the slow ones (windows.h): they go first, one per process.
status=0
report=$({
    ((${#windows[@]} == 0)) ||
        printf '%s\n' "${windows[@]}" | xargs -P "$(nproc)" -n 1 clang-tidy -p "$win_db" \
            --quiet "${win_args[@]}"
    printf '%s\n' "${native[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet
} 2>&1) || status=$?
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated|^Suppressed|^Use -header-filter' \
    <<<"$report" || true
if ((status != 0)); then
    echo "clang-tidy: findings above" >&2
    exit 1
fi
echo "clang-tidy: ${#native[@]} native and ${#windows[@]} Windows files clean"

#!/usr/bin/env bash
# Installs the dependencies, builds everything from nothing and runs every test: once in a
# plain build, once under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# umockdev's preload library goes ahead of the sanitizer runtime in the emulated programs.
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300 --no-tests=error
}

run_suite build
run_suite build-asan -DTOVRIK_SANITIZE=address,undefined -DTOVRIK_BUILD_BENCHMARKS=OFF

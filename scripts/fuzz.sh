#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, build-fuzz/) and runs each for SECONDS (default 20)
# from its committed corpus in fuzz/corpus/<name>. New inputs go to build-fuzz/corpus/<name>,
# findings to build-fuzz/findings/. One fuzzer at a time; exits non-zero on a finding.
# Usage: scripts/fuzz.sh [SECONDS] [settings|controller|library|scpi|web|vxi11 ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
names=("$@")
((${#names[@]})) || names=(settings controller library scpi web vxi11)

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ not found; scripts/deps.sh installs it" >&2
    exit 77
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIK_FUZZ=ON \
    -DTOVRIK_BUILD_GUI=OFF -DTOVRIK_BUILD_TESTS=OFF -DTOVRIK_BUILD_BENCHMARKS=OFF \
    -DTOVRIK_BUILD_EMULATOR=OFF >/dev/null
targets=()
for name in "${names[@]}"; do targets+=("${name}_fuzzer"); done
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}" >/dev/null

# A small quarantine and no malloc fill: the settings fuzzer allocates and frees a lot per run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:max_malloc_fill_size=0}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build-fuzz/findings
status=0
for name in "${names[@]}"; do
    corpus=build-fuzz/corpus/$name
    mkdir -p "$corpus"
    dict=()
    [[ -f fuzz/$name.dict ]] && dict=(-dict="fuzz/$name.dict")
    log=build-fuzz/findings/$name.log
    start=$(date +%s)
    if "build-fuzz/fuzz/${name}_fuzzer" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="build-fuzz/findings/$name-" "${dict[@]}" "$corpus" "fuzz/corpus/$name" \
        >"$log" 2>&1; then
        result="no finding"
    else
        result="FINDING (see $log)"
        status=1
        # What broke and the input that broke it, for a log that is gone with the machine.
        grep -E 'invariant broken|ERROR:|SUMMARY:|^Base64:|Test unit written' "$log" | head -8 >&2
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "$name: ${runs:-?} executions in $(($(date +%s) - start)) s, $result"
done
exit $status

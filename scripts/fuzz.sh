#!/usr/bin/env bash
# Builds the libFuzzer target of the picture conversion with clang (address and undefined
# sanitizers) and runs it.   scripts/fuzz.sh [seconds]   (default 600)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
"$root/scripts/install-deps.sh" --fuzz
build="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSTROBOLUX_FUZZ=ON -DSTROBOLUX_TESTS=OFF -DSTROBOLUX_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_create_picture
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp "$root"/tests/fuzz/corpus/* "$corpus"/
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
"$build/bin/fuzz_create_picture" -max_total_time="$seconds" -max_len=65536 \
  -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$build/" "$corpus"

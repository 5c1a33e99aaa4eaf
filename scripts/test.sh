#!/usr/bin/env bash
# Installs what is missing, builds and runs every test without a display.
#   scripts/test.sh             normal build in build/
#   scripts/test.sh --sanitize  address + undefined-behaviour sanitizers in build-asan/
#   scripts/test.sh --lint      the format and naming checks first, then the normal tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ "${1:-}" == "--lint" ]]; then
  "$root/scripts/install-deps.sh" --lint
else
  "$root/scripts/install-deps.sh" --test
fi
# The tests and benchmarks are asked for by name: scripts/run.sh may have configured the
# build folder without them.
if [[ "${1:-}" == "--sanitize" ]]; then
  build="$root/build-asan"
  "$root/scripts/build.sh" "$build" -DSTROBOLUX_SANITIZE=ON -DSTROBOLUX_TESTS=ON \
    -DSTROBOLUX_BENCH=OFF
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # Leaks inside the system's font and GL libraries are not ours to fix.
  # The statistics of suppressed leaks would add lines to what the tests read of stderr.
  export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
else
  build="$root/build"
  "$root/scripts/build.sh" "$build" -DSTROBOLUX_TESTS=ON -DSTROBOLUX_BENCH=ON
  if [[ "${1:-}" == "--lint" ]]; then
    "$root/scripts/lint.sh" "$build"
  fi
fi
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
if [[ "${1:-}" == "--sanitize" ]]; then
  # A short run of the picture-conversion fuzzer belongs to the sanitizer checks.
  "$root/scripts/fuzz.sh" 30
fi

#!/usr/bin/env bash
# Installs what is missing, builds and runs every test without a display.
#   scripts/test.sh             normal build in build/
#   scripts/test.sh --sanitize  address + undefined-behaviour sanitizers in build-asan/, then
#                               a short run of the picture-conversion fuzzer
#   scripts/test.sh --lint      the format and naming checks first, then the normal tests
#   scripts/test.sh --ci        what CI runs: --lint, then --sanitize
# Every test process runs under GStreamer's leak tracer (the test main turns it on; it is set
# here too for the programs the tests start): an element or pad a test leaves alive fails it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-}
case "$mode" in
  "" | --sanitize | --lint | --ci) ;;
  *)
    echo "test.sh: unknown option $mode; see the comment at the top of $0" >&2
    exit 2
    ;;
esac
if [[ $mode == --lint || $mode == --ci ]]; then
  "$root/scripts/install-deps.sh" --lint
else
  "$root/scripts/install-deps.sh" --test
fi
export GST_TRACERS='leaks(filters="GstElement,GstPad")'

# The tests and benchmarks are asked for by name: scripts/run.sh may have configured the
# build folder without them.
normal() {
  local build="$root/build"
  "$root/scripts/build.sh" "$build" -DSTROBOLUX_TESTS=ON -DSTROBOLUX_BENCH=ON
  if [[ $mode == --lint || $mode == --ci ]]; then
    "$root/scripts/lint.sh" "$build"
  fi
  (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
}

sanitized() {
  local build="$root/build-asan" seconds=$1
  "$root/scripts/build.sh" "$build" -DSTROBOLUX_SANITIZE=ON -DSTROBOLUX_TESTS=ON \
    -DSTROBOLUX_BENCH=OFF
  # The suppressions name the one-time allocations of the system libraries; their statistics
  # would add lines to what the tests read of stderr.
  (cd "$build" &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
      UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0 \
      QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
  echo "test: the sanitizer build's tests passed"
  "$root/scripts/fuzz.sh" "$seconds"
  echo "test: the fuzz run was clean"
}

case "$mode" in
  --sanitize) sanitized 30 ;;
  --ci)
    normal
    sanitized 60
    ;;
  *) normal ;;
esac

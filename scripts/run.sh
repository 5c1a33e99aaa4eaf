#!/usr/bin/env bash
# usage: scripts/run.sh [program options]
# Installs what building and running the program need, builds the program (only the program)
# and starts it. With a display: the window; when no sound device or no camera is found, with
# the built-in demo devices (--demo). Without a usable display: a 10-second scripted demo run
# offscreen that prints the run folder, the picture count and the WAV file of the tone.
# The options are passed on to the program when it starts with a window; build/bin/strobolux
# --help lists them.
set -euo pipefail
if [[ " $* " == *" --help "* || " $* " == *" -h "* ]]; then
  sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"
  exit 0
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
"$root/scripts/install-deps.sh"
echo "run.sh: building the program in $build"
# A new build folder leaves out the tests and benchmarks, whose packages scripts/test.sh
# installs; an existing one keeps what it was configured with.
options=()
[[ -f "$build/CMakeCache.txt" ]] || options=(-DSTROBOLUX_TESTS=OFF -DSTROBOLUX_BENCH=OFF)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target strobolux
program="$build/bin/strobolux"

if ! problem=$("$program" --check-display 2>&1); then
  echo "run.sh: ${problem#strobolux: }"
  echo "run.sh: running a 10-second demo offscreen instead (tone 10/2 Hz, a picture every 2 tone periods)"
  QT_QPA_PLATFORM=offscreen exec "$program" --demo-run 10
fi

extra=()
if [[ " $* " != *" --demo "* ]]; then
  devices=$("$program" --list-devices 2>/dev/null || true)
  sinks=$(grep -c "^sound device: " <<<"$devices" || true)
  cameras=$(grep -c "^camera: " <<<"$devices" || true)
  if [[ "$sinks" -eq 0 || "$cameras" -eq 0 ]]; then
    echo "run.sh: found $sinks sound device(s) and $cameras camera(s); adding the built-in ones (--demo)"
    extra=(--demo)
  fi
fi
exec "$program" "${extra[@]}" "$@"

#!/usr/bin/env bash
# Starts a virtual X display and saves PNG pictures of the main and the help window into
# screenshots/ (or the folder given).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/screenshots}
"$root/scripts/install-deps.sh" --screenshots
"$root/scripts/build.sh" "$root/build"
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/build/bin/strobolux_screenshots" "$out"

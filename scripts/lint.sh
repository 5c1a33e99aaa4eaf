#!/usr/bin/env bash
# The format check (.clang-format), the include and link check of the modules
# (scripts/check_links.py) and the clang-tidy checks (.clang-tidy: naming, bug-prone,
# performance, analyzer) over every C++ file of the
# project.   scripts/lint.sh [build folder with compile_commands.json]   (default build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/scripts/install-deps.sh" --lint
cd "$root"
mapfile -t files < <(git ls-files '*.cpp' '*.h')
echo "lint: format check of ${#files[@]} files"
clang-format --dry-run --Werror "${files[@]}"
# Each module includes only the modules it links, and links PUBLIC only what its headers show.
echo "lint: include and link check of the modules"
python3 "$root/scripts/check_links.py" "$root" || {
  echo "lint: the include and link check failed" >&2
  exit 1
}
# Every source is checked, the tests' and benchmarks' too.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTROBOLUX_TESTS=ON \
  -DSTROBOLUX_BENCH=ON >/dev/null
# Headers are checked through the sources that include them; the generated moc files need
# a build first, so the sources are checked after one.
mapfile -t sources < <(git ls-files '*.cpp')
echo "lint: naming, bug-prone, performance and analyzer checks of ${#sources[@]} sources"
cmake --build "$build" -j"$(nproc)" >/dev/null
status=0
output=$(printf '%s\n' "${sources[@]}" |
  xargs -P"$(nproc)" -n4 clang-tidy -p "$build" --quiet 2>&1) || status=$?
problems=$(grep -v "warnings generated\|^Suppressed \|^Use -header-filter\|^$" <<<"$output" || true)
if [[ $status -ne 0 || -n "$problems" ]]; then
  echo "$problems"
  echo "lint: the clang-tidy checks failed" >&2
  exit 1
fi
echo "lint: clean"

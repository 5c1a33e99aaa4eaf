#!/usr/bin/env bash
# docs/examples/load_run.py, the README's example of reading a run in Python: on run folders
# made by hand, and on a 3-second demo run of the program.
#   tests/python/load_run_test.sh --fixtures
#   tests/python/load_run_test.sh STROBOLUX_EXECUTABLE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
example="$root/docs/examples/load_run.py"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The first python3 with NumPy and Pillow: one earlier on PATH (a pyenv one, say) may have
# neither, while Debian's has both once python3-numpy and python3-pil are installed.
python=""
for candidate in python3 /usr/bin/python3; do
  if "$candidate" -c "import numpy, PIL" 2>/dev/null; then
    python=$candidate
    break
  fi
done
[[ -n $python ]] ||
  fail "no python3 with NumPy and Pillow (scripts/install-deps.sh --test installs them)"

if [[ ${1:-} == --fixtures ]]; then
  exec "$python" "$here/load_run_fixture_test.py" "$example"
fi
program=${1:?usage: load_run_test.sh --fixtures | STROBOLUX_EXECUTABLE}
scratch=$(mktemp -d)
trap 'rm -rf -- "$scratch"' EXIT
folder="$scratch/program"
mkdir -p "$folder/Risunki" "$folder/SnapShot" "$folder/Video" "$scratch/home" "$scratch/config"
# A home and settings of its own: no camera delay the user calibrated applies, and nothing of
# theirs changes. The Russian locale, where the installed locales have it, would show a
# number written with the session's decimal comma.
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" LC_ALL=ru_RU.UTF-8
locale -a 2>/dev/null | grep -qix ru_RU.utf8 || export LC_ALL=C.UTF-8

"$program" --program-folder "$folder" --demo --run 3 --sound-device Встроенный \
  --camera "Test camera YUY2" --tone 10/2 --every 4 --frames rgb >"$scratch/run.log" 2>&1 ||
  {
    cat "$scratch/run.log"
    fail "the demo run"
  }
run_folder=$(sed -n 's/^run folder: //p' "$scratch/run.log")
[[ -n $run_folder && -f $run_folder/log.csv ]] || {
  cat "$scratch/run.log"
  fail "the run printed no run folder with a log.csv"
}
"$python" "$here/load_run_demo_check.py" "$example" "$run_folder" "$scratch" ||
  fail "load_run.py on the demo run"
echo "load_run test passed"

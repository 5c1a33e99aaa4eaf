#!/usr/bin/env bash
# Installs the Debian packages a command needs, in sets that build on each other. Safe to run
# again: packages already present are skipped without touching the network. Prints one line
# per step; the package manager's own output goes to a log file, named when a step fails.
#   scripts/install-deps.sh                 building and running the program (scripts/run.sh)
#   scripts/install-deps.sh --test          and the tests and benchmarks (scripts/test.sh)
#   scripts/install-deps.sh --lint          and the format and naming checks (scripts/lint.sh)
#   scripts/install-deps.sh --screenshots   the tests' set and a virtual X display
#   scripts/install-deps.sh --fuzz          the program's set and clang
#   scripts/install-deps.sh --runtime-packages   prints the packages the program runs with
set -euo pipefail

# What the installed program needs at run time; the Debian package depends on these.
runtime_packages=(
  libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins
  libgstreamer1.0-0 libgstreamer-plugins-base1.0-0
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-alsa gstreamer1.0-pulseaudio gstreamer1.0-x
  # Cameras served by PipeWire, and the window native on a Wayland desktop.
  gstreamer1.0-pipewire qt6-wayland
  libturbojpeg0 libpng16-16 libgif7
  # The stamp's face, metric-compatible with the common Windows sans faces; DejaVu for the rest.
  fonts-liberation2 fonts-dejavu-core
)
# Building the program: the compiler, CMake and the headers of the libraries above.
build_packages=(
  build-essential cmake pkg-config
  qt6-base-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  linux-libc-dev
  libturbojpeg0-dev libpng-dev libgif-dev
)
# The test suites and benchmarks.
test_packages=(
  libgtest-dev libbenchmark-dev
  locales
  # The desktop tests start a private PipeWire session and a headless Wayland compositor.
  dbus-daemon pipewire pipewire-bin pipewire-pulse wireplumber pulseaudio-utils weston
  # The package test builds a Debian package, checks it and reads the demo run's log.
  dpkg-dev desktop-file-utils lintian python3
  # The Python example's test reads a run with NumPy and Pillow (docs/examples/load_run.py).
  python3-numpy python3-pil
)
lint_packages=(clang-format clang-tidy)
screenshot_packages=(xvfb xauth xdotool imagemagick)
fuzz_packages=(clang libclang-rt-14-dev)

packages=("${build_packages[@]}" "${runtime_packages[@]}")
with_tests=false
case "${1:-}" in
  "") ;;
  --runtime-packages)
    echo "${runtime_packages[@]}"
    exit 0
    ;;
  --test) with_tests=true ;;
  --lint)
    with_tests=true
    packages+=("${lint_packages[@]}")
    ;;
  --screenshots)
    with_tests=true
    packages+=("${screenshot_packages[@]}")
    ;;
  --fuzz) packages+=("${fuzz_packages[@]}") ;;
  *)
    echo "install-deps: unknown option $1; see the comment at the top of $0" >&2
    exit 2
    ;;
esac
test_locales=()
if $with_tests; then
  packages+=("${test_packages[@]}")
  # The tests read and write numbers under an English and a Russian session locale as well.
  test_locales=(en_US.UTF-8 ru_RU.UTF-8)
fi

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
log=""
# Runs one step quietly into the log; on failure names the log and stops.
step() {
  local what=$1
  shift
  [[ -n "$log" ]] || log=$(mktemp -t strobolux-install-XXXXXX.log)
  echo "install-deps: $what"
  if ! "$@" >>"$log" 2>&1; then
    echo "install-deps: FAILED: $what; the full output is in $log" >&2
    exit 1
  fi
}

if [[ ${#missing[@]} -gt 0 ]]; then
  export DEBIAN_FRONTEND=noninteractive
  step "updating the package lists" "${sudo_cmd[@]}" apt-get update
  step "installing ${#missing[@]} package(s): ${missing[*]}" \
    "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

# `locale -a` spells them en_US.utf8; generate only those not there yet.
missing_locales=()
for l in "${test_locales[@]}"; do
  locale -a 2>/dev/null | grep -qix "${l/UTF-8/utf8}" || missing_locales+=("$l")
done
if [[ ${#missing_locales[@]} -gt 0 ]]; then
  for l in "${missing_locales[@]}"; do
    if grep -q "^# *${l} UTF-8" /etc/locale.gen; then
      "${sudo_cmd[@]}" sed -i "s/^# *${l} UTF-8/${l} UTF-8/" /etc/locale.gen
    elif ! grep -qx "${l} UTF-8" /etc/locale.gen; then
      echo "${l} UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    fi
  done
  step "generating the locales ${missing_locales[*]}" "${sudo_cmd[@]}" locale-gen
fi
[[ -z "$log" ]] || rm -f "$log"

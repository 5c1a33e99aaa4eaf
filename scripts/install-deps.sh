#!/usr/bin/env bash
# Installs every Debian package the project builds, tests or runs with. Safe to run again:
# packages already present are skipped without touching the network.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-alsa gstreamer1.0-pulseaudio
  gstreamer1.0-x gstreamer1.0-tools
  linux-libc-dev
  libturbojpeg0-dev libpng-dev libgif-dev
  libgtest-dev libbenchmark-dev
  fonts-dejavu-core
)
# Extra tools some commands need: Xvfb for screenshots, clang for the fuzzer build.
case "${1:-}" in
  --screenshots) packages+=(xvfb xauth xdotool imagemagick) ;;
  --fuzz) packages+=(clang libclang-rt-14-dev) ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

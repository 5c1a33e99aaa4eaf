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
  locales
)
# Extra tools some commands need: Xvfb for screenshots, clang for the fuzzer build.
case "${1:-}" in
  --screenshots) packages+=(xvfb xauth xdotool imagemagick) ;;
  --fuzz) packages+=(clang libclang-rt-14-dev) ;;
esac

# The tests read and write numbers under an English and a Russian session locale as well.
test_locales=(en_US.UTF-8 ru_RU.UTF-8)

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
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
  "${sudo_cmd[@]}" locale-gen
fi

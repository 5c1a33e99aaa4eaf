#!/usr/bin/env bash
# Builds the Debian package from a build tree, checks its dependencies, unpacks it into a
# scratch root and starts the unpacked program through its desktop launcher.
#   tests/package/package_test.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: package_test.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf -- "$scratch"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cpack -G DEB -B "$scratch/out" --config "$build/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack -G DEB"; }
shopt -s nullglob
debs=("$scratch"/out/*.deb)
[[ ${#debs[@]} -eq 1 ]] || fail "expected one .deb, found ${#debs[@]}"
deb=${debs[0]}

info=$(dpkg-deb --info "$deb")
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
[[ -n "$depends" ]] || fail "no Depends field"
for package in $("$root/scripts/install-deps.sh" --runtime-packages); do
  grep -Eq "(^|, )$package(,|$| )" <<<"$depends" || fail "Depends lacks $package: $depends"
done
echo "Depends: $depends"

unpacked="$scratch/root"
dpkg -x "$deb" "$unpacked"
program="$unpacked/usr/bin/strobolux"
[[ -x "$program" ]] || fail "no executable usr/bin/strobolux"
"$program" --help | grep -q -- "--program-folder" || fail "the unpacked program does not start"
entry="$unpacked/usr/share/applications/strobolux.desktop"
[[ -f "$entry" ]] || fail "no desktop entry"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[[ -x "$unpacked/usr/bin/$exec_name" ]] || fail "the entry starts $exec_name, which is not installed"
icon=$(sed -n 's/^Icon=//p' "$entry")
[[ -f "$unpacked/usr/share/icons/hicolor/scalable/apps/$icon.svg" ]] || fail "no icon $icon"
[[ -f "$unpacked/usr/share/doc/strobolux/README.md" ]] || fail "no help in usr/share/doc"

# The launcher makes the user's folders and the pictures land there, not beside the binary.
home="$scratch/home"
mkdir -p "$home"
HOME="$home" STROBOLUX_PROGRAM_FOLDER= QT_QPA_PLATFORM=offscreen \
  "$unpacked/usr/bin/$exec_name" --demo-run 2 >"$scratch/run.log" 2>&1 ||
  { cat "$scratch/run.log"; fail "the launcher's demo run"; }
cat "$scratch/run.log"
for folder in Risunki SnapShot Video; do
  [[ -d "$home/Strobolux/$folder" ]] || fail "the launcher did not make ~/Strobolux/$folder"
done
pictures=("$home"/Strobolux/Risunki/*/*.bmp)
[[ ${#pictures[@]} -ge 1 ]] || fail "no pictures under ~/Strobolux/Risunki"
[[ ! -e "$unpacked/usr/bin/Risunki" ]] || fail "files were written beside the executable"
echo "package test passed: $(basename "$deb"), ${#pictures[@]} picture(s)"

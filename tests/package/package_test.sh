#!/usr/bin/env bash
# Builds the Debian package from a build tree, checks it with lintian and checks its
# dependencies, manual pages and documents, unpacks it into a scratch root and starts the
# unpacked program through its desktop launcher.
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

# No lintian errors; the warnings are shown.
command -v lintian >/dev/null || fail "lintian is not installed (scripts/install-deps.sh --test)"
# Status 1 means tags were found; anything above is lintian itself failing.
lintian_status=0
lintian_output=$(lintian "$deb" 2>&1) || lintian_status=$?
[[ $lintian_status -le 1 ]] || { echo "$lintian_output"; fail "lintian failed ($lintian_status)"; }
lintian_output=$(grep -v "running with root privileges" <<<"$lintian_output" || true)
grep "^[EW]: " <<<"$lintian_output" || true
if grep -q "^E: " <<<"$lintian_output"; then fail "lintian reports errors"; fi

unpacked="$scratch/root"
dpkg -x "$deb" "$unpacked"
program="$unpacked/usr/bin/strobolux"
[[ -x "$program" ]] || fail "no executable usr/bin/strobolux"
# Read whole first: grep -q would stop reading at its match, and a help text longer than one
# buffer would then end the program with SIGPIPE.
help_text=$("$program" --help) || fail "the unpacked program does not start"
grep -q -- "--program-folder" <<<"$help_text" || fail "the unpacked program's help is wrong"
entry="$unpacked/usr/share/applications/strobolux.desktop"
[[ -f "$entry" ]] || fail "no desktop entry"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[[ -x "$unpacked/usr/bin/$exec_name" ]] || fail "the entry starts $exec_name, which is not installed"
icon=$(sed -n 's/^Icon=//p' "$entry")
[[ -f "$unpacked/usr/share/icons/hicolor/scalable/apps/$icon.svg" ]] || fail "no icon $icon"
doc="$unpacked/usr/share/doc/strobolux"
[[ -f "$doc/README.md" ]] || fail "no help in usr/share/doc"
# Every file the installed README links to is there beside it.
while read -r link; do
  [[ -f "$doc/$link" ]] || fail "the installed README links to $link, which is not installed"
done < <(grep -o '](docs/[^)]*)' "$doc/README.md" | sed 's/^](//; s/)$//')
dep5=https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
[[ $(head -n1 "$doc/copyright") == "Format: $dep5" ]] ||
  fail "usr/share/doc/strobolux/copyright is not in the machine-readable format"
version=$(dpkg-deb -f "$deb" Version)
[[ -f "$doc/changelog.gz" ]] || fail "no usr/share/doc/strobolux/changelog.gz"
zcat "$doc/changelog.gz" | head -n1 | grep -q "^strobolux ($version) " ||
  fail "the changelog's latest entry is not version $version"

# The manual pages: one per program, and strobolux's lists every option its --help does.
man1="$unpacked/usr/share/man/man1"
for page in strobolux strobolux-desktop; do
  [[ -f "$man1/$page.1.gz" ]] || fail "no manual page usr/share/man/man1/$page.1.gz"
done
page=$(zcat "$man1/strobolux.1.gz")
for section in NAME SYNOPSIS DESCRIPTION OPTIONS; do
  grep -qx "\.SH $section" <<<"$page" || fail "the manual page has no $section section"
done
mapfile -t options < <("$program" --help | grep -o -- '--[a-z][-a-z]*' | sort -u)
[[ ${#options[@]} -gt 0 ]] || fail "strobolux --help names no options"
for option in "${options[@]}"; do
  grep -qF -- "${option//-/\\-}" <<<"$page" || fail "the manual page lacks $option"
done

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
# The run's log reads as CSV: the column names first, then one row per picture.
logs=("$home"/Strobolux/Risunki/*/log.csv)
[[ ${#logs[@]} -eq 1 ]] || fail "expected one log.csv under ~/Strobolux/Risunki, found ${#logs[@]}"
python3 -c '
import csv, sys
with open(sys.argv[1], newline="") as f:
    rows = list(csv.reader(f))
if not rows or not rows[0] or rows[0][0] != "picture":
    sys.exit("log.csv does not start with the column names (picture, ...): %r" % rows[:1])
if len(rows) < 2:
    sys.exit("log.csv has no picture rows")
for number, row in enumerate(rows[1:], 2):
    if len(row) != len(rows[0]):
        sys.exit("log.csv row %d has %d cells for %d columns" % (number, len(row), len(rows[0])))
' "${logs[0]}" || fail "log.csv of the launcher's demo run"
# The program itself, by its own name, records there too.
home2="$scratch/home2"
mkdir -p "$home2"
HOME="$home2" STROBOLUX_PROGRAM_FOLDER= QT_QPA_PLATFORM=offscreen \
  "$program" --demo-run 2 >"$scratch/run2.log" 2>&1 ||
  { cat "$scratch/run2.log"; fail "the installed program's demo run"; }
grep -q "^run folder: $home2/Strobolux/Risunki/" "$scratch/run2.log" ||
  { cat "$scratch/run2.log"; fail "the installed program did not record into ~/Strobolux"; }
[[ ! -e "$unpacked/usr/bin/Risunki" ]] || fail "files were written beside the executable"
echo "package test passed: $(basename "$deb"), ${#pictures[@]} picture(s)"

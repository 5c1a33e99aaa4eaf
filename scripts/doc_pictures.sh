#!/usr/bin/env bash
# Makes the README's pictures and its example log.csv rows from real runs of the program on its
# built-in devices, so that they show what the program does now:
#   docs/demo-run.png         the main window and the picture window during `--demo-run 10`
#   docs/demo-log.csv         that run's log.csv (the README quotes its header and one row)
#   docs/phase-example.png    that run's phase.png
#   docs/stamped-picture.png  its picture 3
#   docs/scene-pictures.png   its pictures 3 and 4 (NC0 = 4), above pictures 3 and 4 of a second
#                             run with NC0 = 5, which the same demo settings cannot show
#   docs/stamps-by-locale.png picture 3's stamp under the C, English and Russian locales (the
#                             main run, the NC0 = 5 run and a short demo run: the stamp takes the
#                             session's locale), beside the stamp of picture 99 999 at
#                             T - T0 = 99 999.999 s (strobolux_screenshots --stamp)
# Before the main run the demo camera's delay is calibrated, as a lab would do with its webcam,
# so that the log's exposure columns hold the picture's phase; the calibration is kept in a
# private settings folder and never touches the user's. At the end it prints the README's
# example rows and the numbers its text quotes: they change from run to run (where the camera's
# frames fall against the tone), so copy them into the README with the pictures.
#   scripts/doc_pictures.sh [build folder]   default build/; configured when it is not yet,
#                                            then only the two programs are built
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
docs="$root/docs"
started=$SECONDS

"$root/scripts/install-deps.sh" --screenshots
echo "doc_pictures: building strobolux and strobolux_screenshots in $build"
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target strobolux strobolux_screenshots >/dev/null
program="$build/bin/strobolux"
screenshots="$build/bin/strobolux_screenshots"

work=$(mktemp -d -t strobolux-doc-pictures-XXXXXX)
trap 'rm -rf "$work"' EXIT
# The calibration's result and Qt's settings stay in here, away from the user's.
export XDG_CONFIG_HOME="$work/config"
# Qt's private runtime folder, which it would otherwise warn about on every start.
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work/runtime}"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
demo_camera=(--sound-device Встроенный --camera "Test camera YUY2")

# A program folder of its own for each run, so that each has one run folder.
new_folder() {
  mkdir -p "$work/$1/Risunki" "$work/$1/SnapShot" "$work/$1/Video"
  echo "$work/$1"
}
# The one run folder of a program folder.
run_folder() {
  local folders=("$1"/Risunki/*/)
  [[ ${#folders[@]} -eq 1 && -d "${folders[0]}" ]] || {
    echo "doc_pictures: expected one run folder in $1/Risunki" >&2
    exit 1
  }
  echo "${folders[0]%/}"
}

# The main run, on a virtual X display so that the windows can be photographed half-way: the
# main window and, beside it, the picture window (as on a wide screen).
shoot_demo_run() {
  local program=$1 folder=$2 picture=$3 output=$4
  "$program" --demo-run 10 --program-folder "$folder" >"$output" 2>&1 &
  local pid=$!
  local main form6
  main=$(timeout 30 xdotool search --sync --onlyvisible --name "form1" | head -n1)
  form6=$(timeout 30 xdotool search --sync --onlyvisible --name "Form6" | head -n1)
  local width
  width=$(xdotool getwindowgeometry --shell "$main" | sed -n 's/^WIDTH=//p')
  # Apart, so that neither covers the other.
  xdotool windowmove "$main" 0 0
  xdotool windowmove "$form6" $((width + 20)) 0
  # Half-way through the 10 s, a dozen pictures in.
  sleep 5
  import -window "$main" "$picture.main.png"
  import -window "$form6" "$picture.form6.png"
  wait "$pid"
  convert "$picture.main.png" \( "$picture.form6.png" -splice 6x0 \) -background white \
    -gravity north +append "$picture"
}

echo "doc_pictures: calibrating the demo camera's delay (20 s)"
main_folder=$(new_folder main)
LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen "$program" --demo --calibrate-camera 20 \
  "${demo_camera[@]}" --program-folder "$main_folder" | tee "$work/calibration.txt"

echo "doc_pictures: the main run, --demo-run 10 (tone 10/2 Hz, NC0 = 4), on a virtual display"
# On X even from a Wayland desktop, so that the windows open on the virtual display.
LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
  bash -c "set -euo pipefail; $(declare -f shoot_demo_run); shoot_demo_run \"\$@\"" _ \
  "$program" "$main_folder" "$work/demo-run.png" "$work/main.txt"
cat "$work/main.txt"
main_run=$(run_folder "$main_folder")

echo "doc_pictures: a 3-second run with NC0 = 5 under ru_RU.UTF-8 (the lower scene pictures)"
alternating_folder=$(new_folder alternating)
LC_ALL=ru_RU.UTF-8 QT_QPA_PLATFORM=offscreen "$program" --demo --run 3 "${demo_camera[@]}" \
  --tone 10/2 --every 5 --program-folder "$alternating_folder" >"$work/alternating.txt"
alternating_run=$(run_folder "$alternating_folder")

echo "doc_pictures: a 3-second demo run under en_US.UTF-8 (its stamp)"
english_folder=$(new_folder english)
LC_ALL=en_US.UTF-8 QT_QPA_PLATFORM=offscreen "$program" --demo-run 3 \
  --program-folder "$english_folder" >"$work/english.txt"
english_run=$(run_folder "$english_folder")

echo "doc_pictures: writing the pictures into $docs"
# The windows and the scene are grey: 8-bit grey PNG files are half the size of RGB ones.
convert "$work/demo-run.png" -strip -type Grayscale "$docs/demo-run.png"
cp "$main_run/log.csv" "$docs/demo-log.csv"
cp "$main_run/phase.png" "$docs/phase-example.png"
convert "$main_run/3.bmp" -strip -type Grayscale "$docs/stamped-picture.png"

# Two pictures of a run side by side at half size under a caption.
scene_row() {
  convert -background white -fill black -font "$font" -pointsize 15 "label:$1" \
    -bordercolor white -border 10x4 \( "$2/3.bmp" "$2/4.bmp" -resize 50% -splice 10x0 +append \) \
    -gravity west -append -gravity northwest -splice 0x4 "$work/$3"
}
scene_row "NC0 = 4, D = 2: a picture every 2 tone periods, the hand at one angle" "$main_run" \
  scene-4.png
scene_row "NC0 = 5, D = 2: 2.5 tone periods apart, the hand 180° further each time" \
  "$alternating_run" scene-5.png
convert "$work/scene-4.png" "$work/scene-5.png" -background white -append -strip \
  -type Grayscale "$docs/scene-pictures.png"

# Picture 3's corner (the stamp and a little of the frame) and the longest stamp, both twice
# their size, under the locale's name.
rows=()
for pair in "C.UTF-8:$main_run" "en_US.UTF-8:$english_run" "ru_RU.UTF-8:$alternating_run"; do
  locale=${pair%%:*}
  run=${pair#*:}
  LC_ALL=$locale QT_QPA_PLATFORM=offscreen "$screenshots" --stamp "$work/longest-$locale.png"
  convert -background white -fill black -font "$font" -pointsize 15 \
    "label:LC_ALL=$locale: picture 3 of a demo run; N = 99999, T-T0 = 99999.999 s" \
    -bordercolor white -border 6x3 \
    \( "$run/3.bmp" -crop 240x50+0+0 +repage -scale 200% \
    \( "$work/longest-$locale.png" -scale 200% \) +append \) \
    -gravity west -append "$work/stamps-$locale.png"
  rows+=("$work/stamps-$locale.png")
done
convert "${rows[@]}" -background white -append -strip -type Grayscale \
  "$docs/stamps-by-locale.png"

# Every row adds up: frame_age = due - capture and exposure_mid = capture - delay - exposure / 2,
# to a few microseconds (the age is counted on the system clock, the columns in ms since T0 on
# the tone's clock). The README shows the header and the first row from picture 3 on that adds
# up to the last printed digit; as each column is rounded on its own, a run may have none.
awk -F, 'NR == 1 { for (i = 1; i <= NF; ++i) c[$i] = i; print > "/dev/stderr"; next }
  function off(a, b) { return a > b ? a - b : b - a }
  $c["error"] != "" { print "doc_pictures: picture " $1 " failed" > "/dev/stderr"; bad = 1; next }
  { age = off($c["frame_age_ms"], $c["due_ms"] - $c["frame_capture_ms"])
    mid = $c["camera_delay_ms"] == "" ? 0 : off($c["exposure_mid_ms"],
            $c["frame_capture_ms"] - $c["camera_delay_ms"] - $c["exposure_time_ms"] / 2)
    if (age > 0.01 || mid > 0.01) { print "doc_pictures: row " NR - 1 " does not add up" \
      > "/dev/stderr"; bad = 1 }
    if (!shown && $c["picture"] >= 3 && age < 0.0005 && mid < 0.0005) { print > "/dev/stderr"
      shown = 1 } }
  END { if (!shown) print "doc_pictures: no row adds up to the last printed digit (each column" \
          " is rounded on its own): run it again for an example row that does" > "/dev/stderr"
        exit bad }' "$docs/demo-log.csv" 2>&1 | sed '1i doc_pictures: the README'"'"'s example rows:'
# The numbers the README's text quotes, over every picture of the main run.
awk -F, 'function wrap(d) { while (d > 180) d -= 360; while (d <= -180) d += 360; return d }
  function median(a, n,   i, j, t) {
    for (i = 2; i <= n; ++i) for (j = i; j > 1 && a[j - 1] > a[j]; --j) {
      t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
  NR == 1 { for (i = 1; i <= NF; ++i) c[$i] = i; next }
  { ++n; age[n] = $c["frame_age_ms"]; fp[n] = wrap($c["frame_phase_deg"] - $c["ideal_phase_deg"])
    ep[n] = wrap($c["exposure_phase_deg"] - $c["ideal_phase_deg"]); save[n] = $c["save_ms"] }
  END { printf "doc_pictures: %d pictures; median frame_age_ms %.3f, frame phase error %.2f°, " \
          "exposure phase error %.2f°, save_ms %.3f\n", n, median(age, n), median(fp, n),
          median(ep, n), median(save, n) }' "$docs/demo-log.csv"
grep -h "^camera delay" "$work/calibration.txt" "$work/main.txt" || true
echo "doc_pictures: NC0 = 5 run, pictures 3 and 4:"
sed -n '1p;4,5p' "$alternating_run/log.csv"
ls -l "$docs"/*.png "$docs/demo-log.csv"
echo "doc_pictures: done in $((SECONDS - started)) s"

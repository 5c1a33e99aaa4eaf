"""Checks a demo run's folder and docs/examples/load_run.py's reading of it. The run was
`--demo --run 3 --sound-device Встроенный --camera "Test camera YUY2" --tone 10/2 --every 4`,
and `--frames rgb`.
    python3 load_run_demo_check.py LOAD_RUN_PY RUN_FOLDER SCRATCH
"""
import csv
import json
import re
import subprocess
import sys
from datetime import datetime
from pathlib import Path

import numpy as np
from PIL import Image

script, folder, scratch = (Path(arg).resolve() for arg in sys.argv[1:4])
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def load_run(*args, cwd=None):
    return subprocess.run([sys.executable, str(script), str(folder), *args], cwd=cwd,
                          capture_output=True, text=True)


with open(folder / "log.csv", newline="", encoding="utf-8") as file:
    rows = list(csv.DictReader(file))
written = [row for row in rows if not row["error"]]
pictures = sorted(p.name for p in folder.glob("*.bmp"))
check(len(written) >= 3, f"a 3 s run at 2.5 pictures a second wrote {len(written)} pictures")
check(pictures == sorted(row["file"] for row in written),
      f"the pictures {pictures} are not the written rows' files")

if not check((folder / "run.json").is_file(), "no run.json in the run folder"):
    sys.exit("FAIL: no run.json in the run folder")

record = json.loads((folder / "run.json").read_text(encoding="utf-8"))
settings, camera = record["settings"], record["camera"]
size = camera["format"]
check(record["program"] == "Strobolux" and record["version"], "program and version")
check(isinstance(record["run"], int) and record["run"] >= 1, f"run {record['run']}")
check(datetime.fromisoformat(record["t0"]).utcoffset() is not None,
      f"t0 {record['t0']} has no UTC offset")
check(bool(record["time_zone"]), "no time_zone")
for key, value in {"numerator": 10, "denominator": 2, "tone_hz": 5.0, "mode": "periods",
                   "every_periods": 4, "timer_s": None, "back_end": "capture",
                   "picture_format": "bmp",
                   "frames": "rgb"}.items():
    check(settings.get(key) == value, f"settings.{key} is {settings.get(key)!r}, not {value!r}")
check("Встроенный" in record["sound_device"], f"sound_device {record['sound_device']!r}")
check(camera["name"] == "Test camera YUY2", f"camera.name {camera['name']!r}")
check(size["media"] == "video/x-raw", f"camera.format.media {size['media']!r}")
check(record["camera_delay"] == {"ms": None, "uncertainty_ms": None, "source": "none"},
      f"camera_delay {record['camera_delay']} in a run with fresh settings")
end = record["end"] or {}
check(end.get("how") == "time up" and end.get("failure") is None,
      f"a run that ran its 3 s ended {end}")
check(datetime.fromisoformat(end.get("at", "")).utcoffset() is not None, f"end.at {end}")
check(record["pictures"] == {"written": len(written), "not_written": len(rows) - len(written)},
      f"pictures {record['pictures']} for {len(written)} of {len(rows)} rows written")
check(isinstance(size["width"], int) and size["width"] > 0 and size["height"] > 0,
      f"camera.format {size}")

# The camera's frames: one PNG a written picture, RGB, at the camera's size.
check("frame_file" in rows[0], f"log.csv has no frame_file column: {list(rows[0])}")
for row in written:
    path = folder / (row.get("frame_file") or "(none)")
    if check(path.is_file(), f"picture {row['picture']}: no frame file {path.name}"):
        with Image.open(path) as frame:
            check(frame.format == "PNG" and frame.mode == "RGB" and
                  frame.size == (size["width"], size["height"]),
                  f"{path.name}: {frame.format} {frame.mode} {frame.size}, not RGB {size}")

# What the example prints: the summary, with the phase errors computed here from log.csv.
done = load_run("--plot", str(scratch / "plot.png"))
output = done.stdout
check(done.returncode == 0, f"load_run.py failed ({done.returncode}): {done.stderr}")
check(f"tone: {settings['tone_hz']} Hz (10/2), mode periods" in output, "no tone line")
check(re.search(r"^camera: Test camera YUY2, .* (\d+)x(\d+) ", output, re.M) is not None,
      "no camera line")
check("camera delay: none" in output, "no camera delay line")
check(re.search(r"^end: time up at \S+$", output, re.M) is not None, "no end line")
errors = []
for row in written:
    calibrated = row["camera_delay_ms"] != ""
    phase = row["exposure_phase_deg"] if calibrated else row["frame_phase_deg"]
    error = float(phase) - float(row["ideal_phase_deg"])
    while error >= 180:
        error -= 360
    while error < -180:
        error += 360
    errors.append(abs(error))
found = re.search(r"^phase error \((\w+)\): mean \|error\| ([\d.]+)°, max \|error\| ([\d.]+)° "
                  r"over (\d+) pictures$", output, re.M)
if check(found is not None, "no phase error line"):
    check(found[1] == "frame" and int(found[4]) == len(errors) and
          abs(float(found[2]) - np.mean(errors)) < 0.001 and
          abs(float(found[3]) - max(errors)) < 0.001,
          f"{found[0]}: log.csv gives mean {np.mean(errors):.3f}, max {max(errors):.3f} "
          f"over {len(errors)}")
frames_line = f"frames: {len(written)} loaded ({size['width']}x{size['height']} RGB)"
check(frames_line in output, f"no line {frames_line!r}")

# The plot: a PNG with a dot a picture; by default phase-error.png in the current folder.
with Image.open(scratch / "plot.png") as plot:
    check(plot.format == "PNG", f"the plot is {plot.format}")
    pixels = np.asarray(plot.convert("RGB")).astype(int)
check(np.count_nonzero((pixels[:, :, 2] > 100) & (pixels[:, :, 0] < 50)) >= 9,
      "the plot has no dots")
check(load_run(cwd=scratch).returncode == 0 and (scratch / "phase-error.png").is_file(),
      "load_run.py without --plot made no phase-error.png in the current folder")

print(output, end="")
for failure in failures:
    print(f"FAIL: {failure}", file=sys.stderr)
sys.exit(1 if failures else 0)

#!/usr/bin/env python3
"""Loading a Strobolux run folder in Python: an example to start an analysis from.

A run folder (Risunki/<date>_<time>/ under the program folder) holds the numbered pictures,
run.json (the run's settings, camera, delay and end), log.csv (one row per picture) and, when
the run saved them (--frames rgb|grey), the camera's own unstamped frames as PNG files named
in log.csv's frame_file column.

    python3 load_run.py RUN_FOLDER [--plot OUT.png]

prints a summary of the run and draws each picture's phase error into OUT.png
(phase-error.png in the current folder by default). Needs only NumPy and Pillow
(Debian: python3-numpy python3-pil).
"""
import argparse
import csv
import json
import math
import sys
from pathlib import Path

import numpy as np
from PIL import Image, ImageDraw


def cell(column, text):
    """A log.csv cell: None when empty, a float in the number columns, else the text."""
    if text is None or text == "":
        return None
    numeric = column.endswith(("_ms", "_deg")) or column in ("picture", "frame_number")
    return float(text) if numeric else text


def load_run(folder):
    """run.json as a dict and log.csv as a list of dicts, one per picture. A column that an
    older log lacks (frame_file) is simply absent from its rows: read them with row.get()."""
    record = json.loads((folder / "run.json").read_text(encoding="utf-8"))
    with open(folder / "log.csv", newline="", encoding="utf-8") as file:
        rows = [{k: cell(k, v) for k, v in row.items()} for row in csv.DictReader(file)]
    return record, rows


def phase_error(row):
    """The picture's phase less the ideal one, wrapped into [-180°, 180°), and which phase it
    is: the pulse's when a strobe lit the picture, the exposure's once the camera's delay is
    calibrated, else the frame timestamp's (as in phase.png; uncalibrated, exposure_phase_deg
    leaves the camera's delay out). None for a picture without both phases (a failed one, or
    the timer mode)."""
    calibrated = row.get("camera_delay_ms") is not None
    which = "exposure" if calibrated and row.get("exposure_phase_deg") is not None else "frame"
    if row.get("strobe_lit") == "1" and row.get("pulse_phase_deg") is not None:
        which = "pulse"
    phase, ideal = row.get(which + "_phase_deg"), row.get("ideal_phase_deg")
    if phase is None or ideal is None:
        return None, which
    return (phase - ideal + 180) % 360 - 180, which


def frames(folder, rows):
    """(picture, array) for each picture whose frame was saved: height x width (x 3 for RGB),
    8 bits. One at a time, as a long run's frames need not fit in memory together."""
    for row in rows:
        if row.get("frame_file"):
            with Image.open(folder / row["frame_file"]) as image:
                yield int(row["picture"]), np.asarray(image)


def plot(points, path):
    """Draws (picture, error) points with Pillow: the axes, the zero line, a dot a picture."""
    width, height, left, right, top, bottom = 720, 360, 50, 15, 25, 30
    image = Image.new("RGB", (width, height), "white")
    draw = ImageDraw.Draw(image)
    largest = max((abs(error) for _, error in points), default=0)
    limit = min(180, max(10, 10 * math.ceil(largest / 10)))  # whole tens of degrees
    first = min((p for p, _ in points), default=1)
    last = max((p for p, _ in points), default=1)

    def xy(picture, error):  # half a picture's room at either end keeps the dots inside
        return (left + (picture - first + 0.5) / (last - first + 1) * (width - left - right),
                top + (limit - error) / (2 * limit) * (height - top - bottom))

    draw.rectangle([left, top, width - right, height - bottom], outline="black")
    draw.line([left, xy(first, 0)[1], width - right, xy(first, 0)[1]], fill="grey")
    for value in (limit, 0, -limit):
        draw.text((5, xy(first, value)[1] - 5), f"{value:+d}°" if value else "0°", fill="black")
    for picture in (first, last):
        draw.text((xy(picture, 0)[0] - 5, height - bottom + 5), f"{picture}", fill="black")
    draw.text((left, 5), "phase error per picture, degrees", fill="black")
    for picture, error in points:
        x, y = xy(picture, error)
        draw.ellipse([x - 2, y - 2, x + 2, y + 2], fill="navy")
    image.save(path)


def main():
    parser = argparse.ArgumentParser(description="Summarise a Strobolux run folder.")
    parser.add_argument("folder", type=Path, help="the run folder, Risunki/<date>_<time>")
    parser.add_argument("--plot", type=Path, default=Path("phase-error.png"),
                        help="where to draw the phase errors (default: phase-error.png)")
    args = parser.parse_args()
    missing = [name for name in ("run.json", "log.csv") if not (args.folder / name).is_file()]
    if missing:
        sys.exit(f"load_run.py: {args.folder} is not a run folder: no {' and no '.join(missing)}")
    record, rows = load_run(args.folder)

    # A run killed early may have no T0 yet, and one without a camera has "camera": null.
    settings, camera = record.get("settings") or {}, record.get("camera") or {}
    size = camera.get("format") or {}
    print(f"run {record.get('run')} of {record.get('program')} {record.get('version')}, "
          f"T0 {record.get('t0') or 'none'} "
          f"({record.get('time_zone')})")
    print(f"tone: {settings.get('tone_hz')} Hz ({settings.get('numerator')}/"
          f"{settings.get('denominator')}), mode {settings.get('mode')}")
    written = record.get("pictures") or {}
    failed = sum(1 for row in rows if row.get("error"))
    print(f"pictures: {len(rows)} rows in log.csv, {failed} failed; run.json counts "
          f"{written.get('written')} written, {written.get('not_written')} not written")
    print(f"camera: {camera.get('name')}, {size.get('media')} "
          f"{size.get('width')}x{size.get('height')} at {size.get('fps')} fps")
    delay = record.get("camera_delay") or {}
    if delay.get("ms") is not None:
        spread = delay.get("uncertainty_ms")
        print(f"camera delay: {delay['ms']:.3f} ms"
              + (f" ± {spread:.3f} ms" if spread is not None else "") + " (calibrated)")
    else:
        print("camera delay: none (not calibrated)")
    end = record.get("end")  # null while the run goes on, and after a kill or a power cut
    if end is None:
        print("end: not recorded (the run is still going, or was killed)")
    else:
        failure = f": {end['failure']}" if end.get("failure") else ""
        print(f"end: {end.get('how')} at {end.get('at')}{failure}")

    points, phases = [], set()
    for row in rows:
        error, which = phase_error(row)
        if error is not None:
            points.append((int(row["picture"]), error))
            phases.add(which)
    if points:
        errors = np.abs([error for _, error in points])
        print(f"phase error ({' and '.join(sorted(phases))}): mean |error| {errors.mean():.3f}°, "
              f"max |error| {errors.max():.3f}° over {len(points)} pictures")
    else:
        print("phase error: no picture has both its phase and the ideal one")

    shapes = [array.shape for _, array in frames(args.folder, rows)]
    kinds = {f"{s[1]}x{s[0]} {'RGB' if len(s) == 3 else 'grey'}" for s in shapes}
    print(f"frames: {len(shapes)} loaded ({', '.join(sorted(kinds))})" if shapes
          else "frames: none saved")
    plot(points, args.plot)
    print(f"plot: {args.plot}")


if __name__ == "__main__":
    main()

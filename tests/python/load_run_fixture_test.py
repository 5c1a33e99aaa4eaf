"""docs/examples/load_run.py on run folders made here by hand: a finished run with saved
frames, an older log without the frame_file column, a killed run, and folders that are not
runs.
    python3 load_run_fixture_test.py PATH/TO/load_run.py
"""
import csv
import json
import re
import runpy
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import numpy as np
from PIL import Image

sys.dont_write_bytecode = True  # importing the example leaves no __pycache__ in the sources
SCRIPT = Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else None
COLUMNS = ("picture,file,due_ms,actual_ms,frame_number,frame_capture_ms,frame_age_ms,"
           "frame_phase_deg,instant_phase_deg,ideal_phase_deg,time_base,save_ms,error,"
           "exposure_mid_ms,exposure_phase_deg,exposure_time_ms,camera_delay_ms,"
           "camera_delay_source").split(",")


def record(end):
    return {
        "program": "Strobolux", "version": "1.2.3", "run": 4,
        "t0": "2026-12-09T03:10:00.123+03:00", "time_zone": "Europe/Moscow",
        "settings": {"numerator": 10, "denominator": 2, "tone_hz": 5.0, "mode": "periods",
                     "every_periods": 4, "timer_s": None, "amplitude_percent": 50,
                     "shape": "sine", "phase_deg": 90, "sample_rate_hz": 44100,
                     "back_end": "capture", "picture_format": "bmp", "frames": "rgb"},
        "sound_device": "Встроенный выход",
        "camera": {"name": "Камера", "identity": "usb-1",
                   "format": {"media": "video/x-raw", "pixel_format": "YUY2", "width": 8,
                              "height": 6, "fps": 30.0},
                   "controls_start": {"brightness": 0}, "controls_end": None,
                   "locked": False, "not_locked": []},
        "camera_delay": {"ms": 40.0, "uncertainty_ms": 0.3, "source": "calibrated"},
        "end": end,
        "pictures": {"written": 3, "not_written": 1},
    }


def write_run(folder, run, rows, columns=COLUMNS):
    folder.mkdir()
    if run is not None:
        (folder / "run.json").write_text(json.dumps(run, ensure_ascii=False), encoding="utf-8")
    with open(folder / "log.csv", "w", newline="", encoding="utf-8") as file:
        writer = csv.DictWriter(file, fieldnames=columns, restval="")
        writer.writeheader()
        writer.writerows(rows)


def row(picture, **cells):
    return {"picture": picture, "file": f"{picture}.bmp", "ideal_phase_deg": "0.000",
            "time_base": "tone", "save_ms": "10.000", **cells}


class LoadRunTest(unittest.TestCase):
    def setUp(self):
        self.temp = Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, self.temp)
        self.plot = self.temp / "plot.png"

    def run_script(self, folder, status=0):
        done = subprocess.run([sys.executable, str(SCRIPT), str(folder), "--plot",
                               str(self.plot)], capture_output=True, text=True)
        self.assertEqual(done.returncode, status, done.stdout + done.stderr)
        return done

    def phase_line(self, output):
        found = re.search(r"^phase error \(([\w ]+)\): mean \|error\| ([-\d.]+)°, "
                          r"max \|error\| ([-\d.]+)° over (\d+) pictures$", output, re.M)
        self.assertIsNotNone(found, output)
        return found[1], float(found[2]), float(found[3]), int(found[4])

    def test_strobed_pictures_take_their_pulses_phase(self):
        # A strobed picture's phase is its pulse's; one no pulse lit keeps the exposure's.
        calibrated = {"camera_delay_ms": "40.000", "camera_delay_source": "calibrated"}
        strobed = self.temp / "strobed"
        write_run(strobed, record(None),
                  [row(1, exposure_phase_deg="20.000", strobe_lit="1", pulse_phase_deg="0.500",
                       **calibrated),
                   row(2, exposure_phase_deg="20.000", strobe_lit="0", **calibrated)],
                  COLUMNS + ["frame_file", "strobe_lit", "pulse_phase_deg"])
        self.assertEqual(self.phase_line(self.run_script(strobed).stdout),
                         ("exposure and pulse", 10.25, 20.0, 2))

    def test_finished_run_with_frames(self):
        folder = self.temp / "run"
        calibrated = {"camera_delay_ms": "40.000", "camera_delay_source": "calibrated"}
        rows = [
            # The exposure's phase counts once calibrated, not the frame's; wrapped to ±180°.
            row(1, frame_phase_deg="5.000", exposure_phase_deg="350.000", frame_file="1.png",
                **calibrated),
            row(2, frame_phase_deg="5.000", exposure_phase_deg="80.000", ideal_phase_deg="270",
                frame_file="2.png", **calibrated),
            # A failed picture: no phase, no frame.
            row(3, error="Camera error: нет кадра", save_ms="0.000", **calibrated),
            row(4, frame_phase_deg="5.000", exposure_phase_deg="1.000", frame_file="",
                **calibrated),
        ]
        write_run(folder, record({"how": "time up", "failure": None, "at": "2026-12-09T03:10:05"}),
                  rows, COLUMNS + ["frame_file"])
        colour = np.zeros((6, 8, 3), np.uint8)
        colour[2, 3] = (200, 10, 20)
        Image.fromarray(colour).save(folder / "1.png")
        Image.fromarray(np.full((6, 8), 77, np.uint8)).save(folder / "2.png")

        output = self.run_script(folder).stdout
        self.assertEqual(self.phase_line(output), ("exposure", 60.333, 170.0, 3))
        self.assertIn("end: time up at 2026-12-09T03:10:05", output)
        self.assertIn("camera delay: 40.000 ms ± 0.300 ms", output)
        self.assertIn("pictures: 4 rows in log.csv, 1 failed", output)
        self.assertIn("frames: 2 loaded (8x6 RGB, 8x6 grey)", output)

        # The module's own reading: the frames' pixels as saved, empty cells as None.
        module = runpy.run_path(str(SCRIPT), run_name="load_run")
        _, loaded = module["load_run"](folder)
        self.assertIsNone(loaded[2]["frame_phase_deg"])
        self.assertEqual(loaded[0]["camera_delay_ms"], 40.0)
        frames = dict(module["frames"](folder, loaded))
        self.assertEqual(sorted(frames), [1, 2])
        np.testing.assert_array_equal(frames[1], colour)
        self.assertEqual(frames[2].shape, (6, 8))
        self.assertEqual(int(frames[2][0, 0]), 77)

        # The plot: a PNG with a dot above the zero line (+170°) and one just below (−10°).
        with Image.open(self.plot) as image:
            self.assertEqual(image.format, "PNG")
            pixels = np.asarray(image.convert("RGB")).astype(int)
        dots = np.nonzero((pixels[:, :, 2] > 100) & (pixels[:, :, 0] < 50))[0]
        middle = pixels.shape[0] / 2
        self.assertTrue(any(y < middle * 0.5 for y in dots), "no dot near +170°")
        self.assertTrue(any(middle < y < middle * 1.3 for y in dots), "no dot near −10°")

    def test_old_log_without_frame_column_and_with_empty_cells(self):
        folder = self.temp / "old"
        # Not calibrated: exposure_phase_deg then leaves the delay out; the frame's counts.
        rows = [row(1, frame_phase_deg="190.000", exposure_phase_deg="100.000",
                    camera_delay_source="none"),
                row(2, frame_phase_deg="", exposure_phase_deg="", frame_number="",
                    camera_delay_source="none"),
                row(3, frame_phase_deg="10.500", ideal_phase_deg="", camera_delay_source="none")]
        run = record({"how": "stop", "failure": None, "at": "2026-12-09T03:11:00"})
        run["camera_delay"] = {"ms": None, "uncertainty_ms": None, "source": "none"}
        write_run(folder, run, rows)
        output = self.run_script(folder).stdout
        self.assertEqual(self.phase_line(output), ("frame", 170.0, 170.0, 1))
        self.assertIn("camera delay: none", output)
        self.assertIn("frames: none saved", output)
        self.assertTrue(self.plot.is_file())

    def test_killed_run(self):
        folder = self.temp / "killed"
        # Killed before T0 was known and with no camera on: the record has neither.
        run = record(None)
        run.update(t0=None, camera=None)
        write_run(folder, run, [row(1, frame_phase_deg="2.000", frame_file="")],
                  COLUMNS + ["frame_file"])
        output = self.run_script(folder).stdout
        self.assertIn("end: not recorded (the run is still going, or was killed)", output)
        self.assertEqual(self.phase_line(output), ("frame", 2.0, 2.0, 1))

    def test_not_a_run_folder(self):
        write_run(self.temp / "no-record", None, [])
        failed = self.run_script(self.temp / "no-record", status=1)
        self.assertIn("no run.json", failed.stderr)
        (self.temp / "empty").mkdir()
        failed = self.run_script(self.temp / "empty", status=1)
        self.assertIn("no run.json and no log.csv", failed.stderr)
        self.assertFalse(self.plot.exists())


if __name__ == "__main__":
    unittest.main()

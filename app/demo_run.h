#pragma once
// The built-in devices of the demo, and the demo run: a scripted operator that works the real
// main window and its handlers once through the main job and reports what was written.

#include <QString>
#include <QStringList>
#include <cstdio>

#include "app/startup_options.h"

namespace app {

// The row text of the built-in sound device; it names the WAV file it plays into.
QString DemoSoundDeviceName();
// The WAV file of the built-in sound device, in the program folder.
QString DemoWavPath();
// Lists the built-in sound device and the two test cameras after the real devices; the
// cameras take their scene as `scene` says, a realistic webcam's timing where it is silent
// (a 40 ms delay, 10 ms exposure, 1 ms jitter, 30 frames a second).
void RegisterDemoDevices(const SceneOptions& scene = {});

struct DemoRunSettings {
  int seconds = 5;
  bool filterGraph = false;
  bool jpeg = false;
  // --calibrate-camera: the camera's delay measured on the run's devices instead of a run.
  int calibrateSeconds = 0;
  // Set for --run: what the operator sets in the window; unset, the demo's settings on the
  // built-in devices.
  std::optional<RunSettings> run;
};

struct DemoRunSummary {
  QString runFolder;
  int pictures = 0;
  QString wavPath;
  double wavSeconds = 0;
  // The run folder's log.csv and phase.png where they were written (listed for --run), and
  // the video of a run that recorded one.
  QStringList files;
  // What the run applied of the camera's delay, or what a calibration measured.
  QString cameraDelay;
  // For --run: the format the camera delivered in once on ("MJPEG 1280 x 720 @ 30 fps"), and the
  // --control values as the camera holds them after they were set ("brightness = 10").
  QString cameraFormat;
  QStringList cameraControls;
  // What the analysis of every frame did (--phase-bins, --lock-in).
  QStringList allFrames;
  // Every message box text shown during the run.
  QStringList messages;
  // Why the script could not go on (a device not listed, a camera that did not switch on).
  QString failure;
  // The window's own refusal of a setting, before anything started.
  QString refused;
  bool Succeeded() const { return messages.isEmpty() && failure.isEmpty() && refused.isEmpty(); }
};

// Needs a QApplication and the demo devices. Builds the main window, shows it, works it
// (sound row, back end, switch-on, camera, Check2 and Check3, NC0 = 5 at 10/2 Hz, start,
// wait, stop, exit) inside the event loop and returns what was written.
DemoRunSummary RunDemo(const DemoRunSettings& settings);

// One line each: run folder, picture count, WAV file and length, the camera's format and
// controls set, every message box text or failure.
QStringList SummaryLines(const DemoRunSummary& summary);

}  // namespace app

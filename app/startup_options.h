#pragma once
// The command line of the program and the checks that run before any window exists: the
// program folder and the display.

#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

#include "platform/gst/format_choice.h"
#include "recording/frame_files.h"
#include "recording/frame_rule.h"

namespace app {

// What a scripted run sets in the window, each value as the operator would type or choose
// it; an empty text or an unset choice leaves the window's own.
struct RunSettings {
  int seconds = 0;      // 0: until stopped
  QString soundDevice;  // a name, or a unique part of one, as --list-devices prints it
  QString camera;
  QString numerator;  // --tone N/D
  QString denominator;
  QString amplitude;  // percent
  std::optional<bool> triangle;
  std::optional<bool> phase270;
  QString sampleRate;  // Hz
  QString every;       // NC0: the clock mode
  QString timer;       // seconds: the Timer 1 mode
  bool showPictures = false;
  bool video = false;  // an AVI recorded through the run, with the capture window
  // --camera-format: the camera opens in it; refused before the run where it offers none such.
  std::optional<gst::FormatChoice> cameraFormat;
  // --control NAME=VALUE, in the order given: set once the camera is on, before the tone.
  std::vector<std::pair<QString, QString>> controls;
  bool lockExposure = false;                          // --lock-exposure
  std::optional<recording::FrameFiles> frames;        // --frames rgb|grey
  std::optional<generator::StrobeMode> strobe;        // --strobe off|period|instants
  std::optional<double> strobeWidthMs;                // --strobe-width MS
  std::optional<recording::FrameChoice> frameChoice;  // --frame-choice nearest|phase
  std::optional<int> phaseBins;                       // --phase-bins K
  std::optional<double> binsFps;                      // --bins-fps F
  bool lockIn = false;                                // --lock-in
};

// How the built-in test cameras' scene is taken: what a real camera's timing would be.
struct SceneOptions {
  std::optional<double> delayMs;     // --scene-delay: exposure's end to the frame's timestamp
  std::optional<double> exposureMs;  // --scene-exposure
  std::optional<double> jitterMs;    // --scene-jitter: the spread of the timestamps
  std::optional<int> rate;           // --scene-rate: 15, 30 or 60 frames a second
  std::optional<double> ambient;     // --scene-ambient: the light beside the strobe's, 0..1
  bool patches = false;              // --scene-patches: patches of known response
};

struct StartupOptions {
  // --run SECONDS with its settings: a scripted operator runs the main job.
  std::optional<RunSettings> run;
  // --demo: the built-in sound device and test cameras are listed beside the real ones.
  bool demo = false;
  // --demo-run SECONDS: a scripted operator runs the main job once; 0 when not asked for.
  int demoRunSeconds = 0;
  // --calibrate-camera SECONDS: the camera's delay measured on the run options' devices; 0
  // when not asked for.
  int calibrateSeconds = 0;
  SceneOptions scene;
  // --back-end capture|graph and --format bmp|jpg of the demo run.
  bool filterGraph = false;
  bool jpeg = false;
  // --program-folder DIR (or STROBOLUX_PROGRAM_FOLDER); empty: DefaultProgramFolder().
  QString programFolder;
  bool help = false;
  bool version = false;
  // --check-display: only says whether a window could be shown (status 0) or why not.
  bool checkDisplay = false;
  // --list-devices: prints the sound devices and cameras found, one a line, and ends; with
  // --formats each camera's formats under it.
  bool listDevices = false;
  bool listFormats = false;
  // --list-controls [--camera NAME]: prints a camera's controls and ends.
  bool listControls = false;
  QString listControlsCamera;  // empty: the first camera
  // --repair-avi FILE: repairs one AVI file whose recording was cut off, and ends.
  QString repairAvi;
};

// Reads the arguments after the program name. Returns the options, or the one line that says
// what is wrong in `error`.
std::optional<StartupOptions> ParseStartupOptions(const QStringList& arguments,
                                                  const QString& programFolderVariable,
                                                  QString* error);

// The usage text printed for --help.
QString UsageText();

// "sound device: <name>" and "camera: <name>" lines of the devices found now, real ones first
// (with the built-in ones too when they were registered); "no sound device found" or "no
// camera found" where there is none of a kind. With `formats`, each camera's formats follow
// it, one a line ("  MJPEG 1280 x 720 @ 30, 15 fps").
QStringList DeviceLines(bool formats = false);

// --list-controls: the lines it prints, or why it cannot (`status` 2: no camera of that name,
// 1: none found or it does not open).
struct ControlListing {
  QStringList lines;
  QString error;
  int status = 0;
};
// Opens the camera `camera` names (as --camera does; empty: the first listed) briefly and
// lists its controls: "camera: <name>", then one line a control: its key, type, range or
// menu, default and value now.
ControlListing ListControls(const QString& camera);

// Qt wants a private runtime folder (XDG_RUNTIME_DIR) and warns on every start without one,
// as under su, ssh or a service: the program names one the way Qt would, without the warning.
void EnsureRuntimeFolder();

// The program's version, as --version prints it.
QString VersionText();

// The folder the executable lies in.
QString ExecutableFolder();

// The program folder when none is named: the executable's own folder when it is a build tree
// of the user's (writable, not under a system prefix, no installed documents beside it); an
// installed program uses the user's `home`/Strobolux instead, so that every name it is
// started by records the same way. Empty when that is needed and `home` is empty.
QString DefaultProgramFolder(const QString& executableFolder, const QString& home);

// The user's home folder: HOME, or the account's when HOME is unset; empty if neither.
QString HomeFolder();

// Makes the user's program folder with Risunki/, SnapShot/ and Video/ where they are missing;
// empty when done, else the line to print.
QString MakeProgramFolders(const QString& folder);

// Empty when the folder exists and a file can be made in it; otherwise the line to print.
QString ProgramFolderProblem(const QString& folder);

// Empty when Risunki/, SnapShot/ and Video/ of the program folder exist and take files;
// otherwise the line naming the first that does not.
QString RecordingFoldersProblem(const QString& folder);

// Repairs the AVI files of the program folder's Video/ that a recording ended with the
// program (a power cut, a kill) left without their index; a line for each file repaired or
// found beyond repair. Files written to lately are left alone: another instance may be
// recording them.
QStringList RepairVideoFolder(const QString& programFolder);

// --repair-avi: repairs `path` if it needs it. True when it is sound now; `line` says what
// was done, or why it could not be.
bool RepairAviFile(const QString& path, QString* line);

// Waits until the recordings finished in the background are taken down: their releases call
// back into the application object, so they end before it does.
void WaitForVideoReleases();

// Empty when a window can be shown: a display is named and can be opened, or Qt is told to
// use a platform that needs none. Otherwise the line to print. Looks at DISPLAY,
// WAYLAND_DISPLAY, XDG_RUNTIME_DIR and QT_QPA_PLATFORM.
QString DisplayProblem();

}  // namespace app

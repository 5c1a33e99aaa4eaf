#include "app/startup_options.h"

#include "app/run_settings.h"
#include "platform/gst/avi_repair.h"
#include "platform/gst/camera_controls.h"
#include "platform/gst/camera_devices.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/format_choice.h"
#include "platform/gst/video_recorder.h"
#include "platform/wave/wave_out.h"

#include <dlfcn.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <tuple>

namespace app {
namespace {

QString Env(const char* name) {
  return qEnvironmentVariable(name);
}

// Whether something accepts a connection on this Unix socket.
bool SocketAnswers(const QString& path) {
  const QByteArray native = QFile::encodeName(path);
  sockaddr_un address{};
  if (native.isEmpty() || static_cast<size_t>(native.size()) >= sizeof(address.sun_path))
    return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answered =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return answered;
}

// Opens and closes the X display as Qt would, authorisation included. libX11 is loaded only
// for this question; without it the local socket of a ":N" display is tried instead.
bool XDisplayOpens(const QString& display) {
  struct Library {
    void* handle = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    ~Library() {
      if (handle) dlclose(handle);
    }
  } x11;
  if (x11.handle) {
    using Open = void* (*)(const char*);
    using Close = int (*)(void*);
    auto open = reinterpret_cast<Open>(dlsym(x11.handle, "XOpenDisplay"));
    auto close = reinterpret_cast<Close>(dlsym(x11.handle, "XCloseDisplay"));
    if (open && close) {
      void* connection = open(display.toLocal8Bit().constData());
      if (!connection) return false;
      close(connection);
      return true;
    }
  }
  if (!display.startsWith(QLatin1Char(':'))) return true;  // a remote one: let Qt try it
  const QString number = display.mid(1).section(QLatin1Char('.'), 0, 0);
  return SocketAnswers(QStringLiteral("/tmp/.X11-unix/X") + number);
}

QString WaylandSocket(const QString& name) {
  if (QDir::isAbsolutePath(name)) return name;
  const QString runtime = Env("XDG_RUNTIME_DIR");
  return runtime.isEmpty() ? QString() : QDir(runtime).filePath(name);
}

// The run options that carry a text for the window; the checks of its values are the window's.
enum class RunText { SoundDevice, Camera, Tone, Amplitude, Shape, Phase, SampleRate, Every, Timer };

constexpr std::pair<const char*, RunText> kRunTextOptions[] = {
    {"sound-device", RunText::SoundDevice}, {"camera", RunText::Camera}, {"tone", RunText::Tone},
    {"amplitude", RunText::Amplitude},      {"shape", RunText::Shape},   {"phase", RunText::Phase},
    {"sample-rate", RunText::SampleRate},   {"every", RunText::Every},   {"timer", RunText::Timer}};

// An option that takes one of two words: true for the second; none, with the line to print,
// for anything else.
std::optional<bool> TwoWords(const QString& option, QLatin1String first, QLatin1String second,
                             const QString& text, QString* error) {
  if (text == first || text == second) return text == second;
  *error = QStringLiteral("%1 is either %2 or %3").arg(option, first, second);
  return std::nullopt;
}

// Stores one run option's value; the choices the window offers as buttons are checked here,
// the texts it takes in boxes later, by the window.
bool SetRunText(RunSettings& run, RunText kind, const QString& text, QString* error) {
  switch (kind) {
    case RunText::SoundDevice:
      run.soundDevice = text;
      return true;
    case RunText::Camera:
      run.camera = text;
      return true;
    case RunText::Tone: {
      const QStringList parts = text.split(QLatin1Char('/'));
      if (parts.size() != 2 || parts[0].trimmed().isEmpty() || parts[1].trimmed().isEmpty()) {
        *error = QStringLiteral("--tone is N/D, the tone's frequency N / D Hz (10/2: 5 Hz)");
        return false;
      }
      run.numerator = parts[0].trimmed();
      run.denominator = parts[1].trimmed();
      return true;
    }
    case RunText::Amplitude:
      run.amplitude = text;
      return true;
    case RunText::Shape:
      run.triangle = TwoWords(QStringLiteral("--shape"), QLatin1String("sine"),
                              QLatin1String("triangle"), text, error);
      return run.triangle.has_value();
    case RunText::Phase:
      run.phase270 = TwoWords(QStringLiteral("--phase"), QLatin1String("0"), QLatin1String("270"),
                              text, error);
      return run.phase270.has_value();
    case RunText::SampleRate:
      run.sampleRate = text;
      return true;
    case RunText::Every:
      run.every = text;
      return true;
    case RunText::Timer:
      run.timer = text;
      return true;
  }
  return false;
}

constexpr const char* kValuedOptions[] = {
    "run",           "demo-run",       "back-end",     "format",     "program-folder",
    "sound-device",  "camera",         "tone",         "amplitude",  "shape",
    "phase",         "sample-rate",    "every",        "timer",      "calibrate-camera",
    "scene-delay",   "scene-exposure", "scene-jitter", "scene-rate", "repair-avi",
    "camera-format", "control",        "frames",       "strobe",     "strobe-width",
    "frame-choice",  "scene-ambient",  "phase-bins",   "bins-fps"};

// A number of milliseconds within [low, high]; none, with the line to print, otherwise.
std::optional<double> Milliseconds(const char* option, const QString& text, double low, double high,
                                   QString* error) {
  bool number = false;
  const double value = text.toDouble(&number);  // the C locale: a script's "40.5"
  if (number && value >= low && value <= high) return value;
  *error = QStringLiteral("--%1 needs a number of milliseconds from %2 to %3")
               .arg(QLatin1String(option))
               .arg(low)
               .arg(high);
  return std::nullopt;
}

// The options as the parser knows them; the usage text that --help prints is UsageText.
void AddOptions(QCommandLineParser& parser) {
  for (const char* flag :
       {"demo", "version", "list-devices", "check-display", "show-pictures", "video",
        "list-controls", "formats", "lock-exposure", "lock-in", "scene-patches"})
    parser.addOption(QCommandLineOption(QString::fromLatin1(flag)));
  parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
  for (const char* valued : kValuedOptions)
    parser.addOption(
        QCommandLineOption(QString::fromLatin1(valued), QString(), QStringLiteral("value")));
}

bool TakesAValue(const QString& argument) {
  for (const char* valued : kValuedOptions)
    if (argument == QStringLiteral("--") + QLatin1String(valued)) return true;
  return false;
}

// Sets the line to print; false, for a step to return.
bool Fail(QString* error, const QString& text) {
  *error = text;
  return false;
}

// The command line as Qt's parser read it, asked by option name.
class ParsedLine {
 public:
  explicit ParsedLine(const QCommandLineParser& parser) : parser_(parser) {}
  bool Given(const char* name) const { return parser_.isSet(QString::fromLatin1(name)); }
  // Every value of an option given twice is checked; the last one counts.
  QStringList Values(const char* name) const { return parser_.values(QString::fromLatin1(name)); }

 private:
  const QCommandLineParser& parser_;
};

// Parses the arguments; false, with the line to print, for an unknown option or argument.
bool ReadArguments(QCommandLineParser& parser, const QStringList& arguments, QString* error) {
  // "--" would end the options for Qt; nothing may follow it here.
  if (arguments.contains(QStringLiteral("--")))
    return Fail(error, QStringLiteral("unknown argument \"--\"; --help lists the options"));
  // A value missing at the end is read as an empty one, so that the option's own check says
  // what it needs.
  QStringList read = arguments;
  if (!read.isEmpty() && TakesAValue(read.last())) read << QString();
  if (!parser.parse(QStringList{QStringLiteral("strobolux")} + read)) {
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty()) return Fail(error, parser.errorText());
    const QString dashes = unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--");
    return Fail(error, QStringLiteral("unknown option \"%1%2\"; --help lists the options")
                           .arg(dashes, unknown.first()));
  }
  if (!parser.positionalArguments().isEmpty())
    return Fail(error, QStringLiteral("unknown argument \"%1\"; --help lists the options")
                           .arg(parser.positionalArguments().first()));
  return true;
}

// The commands and the program folder.
bool ReadCommands(const ParsedLine& line, const QString& programFolderVariable,
                  StartupOptions& options, QString* error) {
  options.demo = line.Given("demo");
  options.help = line.Given("help");
  options.version = line.Given("version");
  options.listDevices = line.Given("list-devices");
  options.checkDisplay = line.Given("check-display");
  for (const QString& file : line.Values("repair-avi")) {
    if (file.isEmpty()) return Fail(error, QStringLiteral("--repair-avi needs a file"));
    options.repairAvi = file;
  }
  options.programFolder = programFolderVariable;
  for (const QString& folder : line.Values("program-folder")) {
    if (folder.isEmpty()) return Fail(error, QStringLiteral("--program-folder needs a folder"));
    options.programFolder = folder;
  }
  return true;
}

// --demo-run and --calibrate-camera: their seconds.
bool ReadSeconds(const ParsedLine& line, StartupOptions& options, QString* error) {
  for (const auto& [name, target, low, high] :
       {std::tuple{"demo-run", &options.demoRunSeconds, 1, 86400},
        std::tuple{"calibrate-camera", &options.calibrateSeconds, 6, 3600}}) {
    for (const QString& text : line.Values(name)) {
      bool number = false;
      *target = text.toInt(&number);
      if (!number || *target < low || *target > high)
        return Fail(error, QStringLiteral("--%1 needs a number of seconds from %2 to %3")
                               .arg(QLatin1String(name))
                               .arg(low)
                               .arg(high));
    }
  }
  return true;
}

// The --scene options of the built-in cameras.
bool ReadScene(const ParsedLine& line, SceneOptions& scene, QString* error) {
  for (const auto& [name, target, high] : {std::tuple{"scene-delay", &scene.delayMs, 1000.0},
                                           std::tuple{"scene-exposure", &scene.exposureMs, 1000.0},
                                           std::tuple{"scene-jitter", &scene.jitterMs, 100.0}}) {
    for (const QString& text : line.Values(name)) {
      *target = Milliseconds(name, text, 0, high, error);
      if (!*target) return false;
    }
  }
  for (const QString& text : line.Values("scene-ambient")) {
    bool number = false;
    const double value = text.toDouble(&number);  // the C locale: a script's "0.05"
    if (!number || !(value >= 0 && value <= 1))
      return Fail(error, QStringLiteral("--scene-ambient is a fraction of full light from 0 to 1"));
    scene.ambient = value;
  }
  scene.patches = line.Given("scene-patches");
  for (const QString& text : line.Values("scene-rate")) {
    if (text != QLatin1String("15") && text != QLatin1String("30") && text != QLatin1String("60"))
      return Fail(error, QStringLiteral("--scene-rate is 15, 30 or 60 frames a second"));
    scene.rate = text.toInt();
  }
  return true;
}

// --back-end and --format: each takes one of two words; the second one switches it on.
bool ReadBackEnd(const ParsedLine& line, StartupOptions& options, QString* error) {
  for (const auto& [name, off, on, target] :
       {std::tuple{"back-end", "capture", "graph", &options.filterGraph},
        std::tuple{"format", "bmp", "jpg", &options.jpeg}}) {
    for (const QString& text : line.Values(name)) {
      const std::optional<bool> second =
          TwoWords(QStringLiteral("--") + QLatin1String(name), QLatin1String(off),
                   QLatin1String(on), text, error);
      if (!second) return false;
      *target = *second;
    }
  }
  return true;
}

// Which of the run's settings the command line gives: any, and any beside --camera.
struct RunSettingsGiven {
  bool any = false;
  bool otherThanCamera = false;
};

// The run options that carry a text for the window.
bool ReadRunTexts(const ParsedLine& line, RunSettings& run, RunSettingsGiven& given,
                  QString* error) {
  for (const auto& [name, kind] : kRunTextOptions) {
    for (const QString& text : line.Values(name)) {
      if (text.isEmpty())
        return Fail(error, QStringLiteral("--%1 needs a value").arg(QLatin1String(name)));
      if (!SetRunText(run, kind, text, error)) return false;
      given.any = true;
      given.otherThanCamera = given.otherThanCamera || kind != RunText::Camera;
    }
  }
  return true;
}

// What the run does with the camera: the pictures shown, the video, its format and controls.
bool ReadCameraSettings(const ParsedLine& line, RunSettings& run, QString* error) {
  run.showPictures = line.Given("show-pictures");
  run.video = line.Given("video");
  for (const QString& text : line.Values("camera-format")) {
    run.cameraFormat = gst::ParseFormatChoice(text, error);
    if (!run.cameraFormat) return false;
  }
  for (const QString& text : line.Values("control")) {
    const auto equals = text.indexOf(QLatin1Char('='));
    const QString name = text.left(equals).trimmed();
    const QString value = text.mid(equals + 1).trimmed();
    if (equals < 0 || name.isEmpty() || value.isEmpty())
      return Fail(error, QStringLiteral("--control is NAME=VALUE, a control as --list-controls "
                                        "prints it (brightness=10)"));
    run.controls.emplace_back(name, value);
  }
  run.lockExposure = line.Given("lock-exposure");
  return true;
}

// --frames and the strobe: the files of the frames and the light they are taken in.
bool ReadFramesAndStrobe(const ParsedLine& line, RunSettings& run, QString* error) {
  for (const QString& text : line.Values("frames")) {
    // "none" overrides the picture window's choice for a script that wants no frames.
    if (text == QLatin1String("none")) {
      run.frames = recording::FrameFiles::None;
      continue;
    }
    const std::optional<bool> grey = TwoWords(QStringLiteral("--frames"), QLatin1String("rgb"),
                                              QLatin1String("grey"), text, error);
    if (!grey) return Fail(error, QStringLiteral("--frames is rgb, grey or none"));
    run.frames = *grey ? recording::FrameFiles::Grey : recording::FrameFiles::Rgb;
  }
  for (const QString& text : line.Values("strobe")) {
    run.strobe = recording::ParseStrobeMode(text);
    if (!run.strobe) return Fail(error, QStringLiteral("--strobe is period, instants or off"));
  }
  for (const QString& text : line.Values("strobe-width")) {
    run.strobeWidthMs = Milliseconds("strobe-width", text, 0.01, 100, error);
    if (!run.strobeWidthMs) return false;
  }
  if (run.strobeWidthMs && (!run.strobe || *run.strobe == generator::StrobeMode::Off))
    return Fail(error, QStringLiteral("--strobe-width belongs to --strobe period|instants"));
  return true;
}

// Which frame a picture takes, the phase bins and the lock-in.
bool ReadFrameChoice(const ParsedLine& line, RunSettings& run, QString* error) {
  for (const QString& text : line.Values("frame-choice")) {
    run.frameChoice = recording::ParseFrameChoice(text);
    if (!run.frameChoice) return Fail(error, QStringLiteral("--frame-choice is nearest or phase"));
  }
  for (const QString& text : line.Values("phase-bins")) {
    bool number = false;
    run.phaseBins = text.toInt(&number);
    if (!number || *run.phaseBins < 2 || *run.phaseBins > 120)
      return Fail(error, QStringLiteral("--phase-bins needs a number of bins from 2 to 120"));
  }
  for (const QString& text : line.Values("bins-fps")) {
    bool number = false;
    run.binsFps = text.toDouble(&number);  // the C locale: a script's "12.5"
    if (!number || !(*run.binsFps >= 1 && *run.binsFps <= 60))
      return Fail(error,
                  QStringLiteral("--bins-fps needs a number of frames a second from 1 to 60"));
  }
  if (run.binsFps && !run.phaseBins)
    return Fail(error, QStringLiteral("--bins-fps belongs to --phase-bins K"));
  run.lockIn = line.Given("lock-in");
  return true;
}

// The run's settings and its seconds; `given` says which settings were given.
bool ReadRun(const ParsedLine& line, RunSettings& run, RunSettingsGiven& given, QString* error) {
  if (!ReadRunTexts(line, run, given, error) || !ReadCameraSettings(line, run, error) ||
      !ReadFramesAndStrobe(line, run, error) || !ReadFrameChoice(line, run, error))
    return false;
  given.otherThanCamera = given.otherThanCamera || run.showPictures || run.video ||
                          run.cameraFormat || !run.controls.empty() || run.lockExposure ||
                          run.frames || run.strobe || run.frameChoice || run.phaseBins ||
                          run.lockIn;
  given.any = given.any || given.otherThanCamera;
  for (const QString& text : line.Values("run")) {
    bool number = false;
    run.seconds = text.toInt(&number);
    if (!number || run.seconds < 0)
      return Fail(error, QStringLiteral("--run needs a number of seconds (0: until stopped)"));
  }
  return true;
}

// --list-controls goes with --camera and --demo only.
bool CheckListControls(const ParsedLine& line, const StartupOptions& options,
                       const RunSettingsGiven& given, QString* error) {
  if (line.Given("run") || options.calibrateSeconds > 0 || options.demoRunSeconds > 0 ||
      options.listDevices || !options.repairAvi.isEmpty() || given.otherThanCamera ||
      line.Given("back-end") || line.Given("format"))
    return Fail(error, QStringLiteral("--list-controls is a command of its own: only --camera "
                                      "and --demo go with it"));
  return true;
}

// The kinds of run exclude each other, and each takes the settings that belong to it.
bool CheckRunKind(const ParsedLine& line, const StartupOptions& options, const RunSettings& run,
                  const RunSettingsGiven& given, QString* error) {
  const bool runGiven = line.Given("run");
  const bool calibrating = options.calibrateSeconds > 0;
  if (given.any && !runGiven && !calibrating)
    return Fail(error, QStringLiteral("the run's settings belong to --run SECONDS"));
  if (runGiven && options.demoRunSeconds > 0)
    return Fail(error, QStringLiteral("--run and --demo-run are two ways of one run: choose one"));
  if (calibrating && (runGiven || options.demoRunSeconds > 0))
    return Fail(error, QStringLiteral(
                           "--calibrate-camera is a run of its own: without --run or --demo-run"));
  if (calibrating && (!run.numerator.isEmpty() || !run.every.isEmpty() || !run.timer.isEmpty() ||
                      run.video || run.showPictures || run.lockExposure || run.frames ||
                      run.strobe || run.frameChoice || run.phaseBins || run.lockIn))
    return Fail(error, QStringLiteral("--calibrate-camera chooses its own tones and takes no "
                                      "pictures: only the device, amplitude, shape, phase, "
                                      "sample-rate, camera-format and control options go with it"));
  const SceneOptions& scene = options.scene;
  const bool sceneGiven = scene.delayMs || scene.exposureMs || scene.jitterMs || scene.rate ||
                          scene.ambient || scene.patches;
  if (sceneGiven && !options.demo && options.demoRunSeconds == 0)
    return Fail(error, QStringLiteral(
                           "the --scene options set the built-in cameras of --demo or --demo-run"));
  if (!run.every.isEmpty() && !run.timer.isEmpty())
    return Fail(error,
                QStringLiteral("--every (the clock) and --timer (Timer 1) exclude each other"));
  return true;
}

// The back end and the picture format belong to a run, and to each other; --repair-avi is
// alone.
bool CheckBackEndAndRepair(const ParsedLine& line, const StartupOptions& options,
                           const RunSettings& run, QString* error) {
  const bool runGiven = line.Given("run");
  const bool calibrating = options.calibrateSeconds > 0;
  if (line.Given("back-end") && options.demoRunSeconds == 0 && !runGiven && !calibrating)
    return Fail(error,
                QStringLiteral("--back-end belongs to --run, --demo-run or --calibrate-camera"));
  if (line.Given("format") && options.demoRunSeconds == 0 && !runGiven)
    return Fail(error, QStringLiteral("--back-end and --format belong to --run or --demo-run"));
  // The capture window saves its frames as BMP only.
  if (options.jpeg && !options.filterGraph)
    return Fail(error, QStringLiteral("--format jpg needs --back-end graph"));
  // The filter graph records no video: its window offers no button for it.
  if (run.video && options.filterGraph)
    return Fail(error, QStringLiteral("--video needs --back-end capture"));
  if (!options.repairAvi.isEmpty() &&
      (runGiven || calibrating || options.demoRunSeconds > 0 || options.listDevices))
    return Fail(error, QStringLiteral("--repair-avi is a command of its own: without a run"));
  return true;
}

}  // namespace

std::optional<StartupOptions> ParseStartupOptions(const QStringList& arguments,
                                                  const QString& programFolderVariable,
                                                  QString* error) {
  QCommandLineParser parser;
  AddOptions(parser);
  if (!ReadArguments(parser, arguments, error)) return std::nullopt;
  const ParsedLine line(parser);
  StartupOptions options;
  RunSettings run;
  RunSettingsGiven given;
  if (!ReadCommands(line, programFolderVariable, options, error) ||
      !ReadSeconds(line, options, error) || !ReadScene(line, options.scene, error) ||
      !ReadBackEnd(line, options, error) || !ReadRun(line, run, given, error))
    return std::nullopt;
  options.listFormats = line.Given("formats");
  if (options.listFormats && !options.listDevices) {
    *error = QStringLiteral("--formats belongs to --list-devices");
    return std::nullopt;
  }
  options.listControls = line.Given("list-controls");
  if (options.listControls) {
    if (!CheckListControls(line, options, given, error)) return std::nullopt;
    options.listControlsCamera = run.camera;
  } else {
    if (!CheckRunKind(line, options, run, given, error)) return std::nullopt;
    if (line.Given("run") || options.calibrateSeconds > 0) options.run = run;
    if (!CheckBackEndAndRepair(line, options, run, error)) return std::nullopt;
  }
  if (!options.programFolder.isEmpty())
    options.programFolder = QFileInfo(options.programFolder).absoluteFilePath();
  return options;
}

QString UsageText() {
  return QStringLiteral(
      "usage: strobolux [--demo] [--program-folder DIR]\n"
      "       strobolux --demo-run SECONDS [--back-end capture|graph] [--format bmp|jpg]\n"
      "                 [--program-folder DIR]\n"
      "       strobolux --run SECONDS [run options] [--program-folder DIR]\n"
      "       strobolux --calibrate-camera SECONDS [device options] [--program-folder DIR]\n"
      "       strobolux --repair-avi FILE\n"
      "       strobolux --list-devices [--formats] [--demo] | --list-controls [--camera NAME]\n"
      "                 [--demo] | --check-display | --version | --help\n"
      "Without options it opens the window. Before it does, it repairs the videos in Video/\n"
      "that a recording ended with the program (a power cut, a kill) left unfinished.\n"
      "  --demo             list the built-in sound device (a WAV file in the program folder)\n"
      "                     and two test cameras after the real devices\n"
      "  --demo-run SECONDS\n"
      "                     work the window as an operator would for SECONDS on the\n"
      "                     built-in devices: tone 10/2 Hz, a stamped picture every 2 tone\n"
      "                     periods (NC0 = 4), all on the same phase; print what was written\n"
      "  --back-end capture|graph\n"
      "                     the camera back end of a run: capture, the capture window\n"
      "                     (\"VideoForWindows\", the default; BMP pictures), or graph, the\n"
      "                     filter graph (\"DirectShow\"; BMP or JPEG pictures)\n"
      "  --format bmp|jpg   the picture format of a run; jpg needs --back-end graph\n"
      "  --run SECONDS      run the main job from the command line for SECONDS (0: until\n"
      "                     SIGINT or SIGTERM stops it as the stop button does), with what\n"
      "                     the operator sets in the window, each value checked as when typed;\n"
      "                     it prints its progress and, at the end, the run folder, the\n"
      "                     picture count, log.csv and phase.png. Status: 0 when it ran as\n"
      "                     asked, 1 after a message box or a device failure, 2 for a wrong\n"
      "                     option or a setting the window refuses; a message box or a\n"
      "                     device failure also ends the run. In the clock mode a stop\n"
      "                     comes at the next picture. --demo adds the built-in devices\n"
      "  --sound-device NAME\n"
      "                     the run's sound output: a name, or a unique part of one, as\n"
      "                     --list-devices prints it (default: the desktop's default output)\n"
      "  --camera NAME      the run's camera, likewise (default: the first listed)\n"
      "  --tone N/D         the tone's frequency, N / D Hz\n"
      "  --amplitude PERCENT\n"
      "                     the tone's amplitude\n"
      "  --shape sine|triangle\n"
      "                     the tone's shape\n"
      "  --phase 0|270      the tone's starting phase in degrees\n"
      "  --sample-rate HZ   the tone's sample rate\n"
      "  --every NC0        a picture every NC0 periods of 1 / N s (the clock mode)\n"
      "  --timer SECONDS    a picture every SECONDS, renewing 0.bmp (the Timer 1 mode)\n"
      "  --show-pictures    show the picture window during the run\n"
      "  --video            record an AVI video into Video/ through the run (capture back\n"
      "                     end only), ended with the run so that it gets its index\n"
      "  --camera-format WxH@FPS/COMPRESSION\n"
      "                     the camera's format, e.g. 1280x720@30/mjpeg or 640x480@29.97/yuy2:\n"
      "                     COMPRESSION is mjpeg (--back-end graph only) or a raw pixel\n"
      "                     format; one the camera does not offer is refused before the run\n"
      "                     (--list-devices --formats lists them). Without it the camera\n"
      "                     opens in the format last chosen for it in its format dialog\n"
      "  --control NAME=VALUE\n"
      "                     set a camera control once the camera is on, before the tone\n"
      "                     starts, and read it back (repeatable, in order): NAME as the\n"
      "                     list of --list-controls writes it, VALUE a number or a menu\n"
      "                     entry's name. An unknown name or a value the camera refuses\n"
      "                     is refused before the run, with status 2 and no run folder\n"
      "  --lock-exposure    hold exposure, gain and white balance through the run at what\n"
      "                     the automatic modes reached at its start\n"
      "  --frames rgb|grey|none\n"
      "                     also save the camera's own frames, unstamped, for analysis,\n"
      "                     or not (without it: as the picture window's menu chose)\n"
      "  --strobe period|instants|off\n"
      "                     play a second channel beside the tone: short pulses for an LED\n"
      "                     that lights the scene at the tone's phase, every tone period or\n"
      "                     only at the pictures' instants; each picture takes a frame the\n"
      "                     pulse lit (a device without two channels is refused)\n"
      "  --strobe-width MS  the pulse's length, 0.01 to 100 ms (default 1)\n"
      "  --frame-choice nearest|phase\n"
      "                     the frame each picture takes: the nearest to its instant in time,\n"
      "                     or the one whose exposure phase is nearest the instant's ideal\n"
      "                     phase among the frames up to the next instant; the run's first\n"
      "                     line says the phase error to expect\n"
      "  --phase-bins K     sort every frame of the run by its exposure phase into K bins\n"
      "                     (2 to 120): bins/ of the run folder gets each bin's mean\n"
      "                     picture, stamped with its phase and frame count, and\n"
      "                     period.avi, one period of the motion\n"
      "  --bins-fps F       the period animation's frames a second, 1 to 60 (default 12)\n"
      "  --lock-in          each pixel's response at the tone's frequency from every frame:\n"
      "                     amplitude.png, phase-map.png and the values as .npy arrays in\n"
      "                     the run folder\n"
      "  --calibrate-camera SECONDS\n"
      "                     measure the camera's delay (from its exposure to the frame's\n"
      "                     timestamp): the camera looks at a light that follows the tone,\n"
      "                     an LED on the sound output; the tone plays at two frequencies,\n"
      "                     half the time each. The delay is stored for the camera, its\n"
      "                     format and exposure and applied to later runs. It takes the\n"
      "                     devices' --sound-device, --camera, --back-end, --camera-format\n"
      "                     and --control, and the tone's --amplitude, --shape, --phase\n"
      "                     and --sample-rate; status 1 when nothing was measured\n"
      "  --scene-delay MS, --scene-exposure MS, --scene-jitter MS, --scene-rate 15|30|60\n"
      "                     with --demo or --demo-run: how the built-in cameras take their\n"
      "                     scene (a dial, a lamp and fringes driven by the tone): the delay\n"
      "                     from exposure to timestamp (default 40 ms), the exposure time\n"
      "                     (10 ms), the timestamps' jitter (1 ms) and the frame rate (30)\n"
      "  --scene-patches    the built-in cameras' scene also shows six patches whose\n"
      "                     brightness follows the tone with a known amplitude and phase,\n"
      "                     a truth for --lock-in's maps\n"
      "  --scene-ambient FRACTION\n"
      "                     with --demo or --demo-run: the light the built-in cameras' scene\n"
      "                     gets beside the strobe's pulses, 0 to 1 of full light (0.02)\n"
      "  --repair-avi FILE  repair an AVI video whose recording was cut off (no index, sizes\n"
      "                     and frame counts unset): its whole frames are kept and indexed,\n"
      "                     an unfinished or garbled end is dropped; the file is replaced\n"
      "                     only once the repaired copy is complete. Status 0 when the file\n"
      "                     is sound (repaired or needing nothing), 1 when it cannot be\n"
      "                     repaired; it is left as it was then\n"
      "  --list-devices [--formats]\n"
      "                     print the sound devices and cameras found, one a line; with\n"
      "                     --formats each camera's formats and rates under it\n"
      "  --list-controls [--camera NAME] [--demo]\n"
      "                     open the camera (default: the first listed) briefly and print\n"
      "                     its controls: key, type, range or menu, default and value now\n"
      "  --check-display    exit with status 0 when a window can be shown, else say why\n"
      "  --program-folder DIR\n"
      "                     where Risunki/, SnapShot/ and Video/ are (also\n"
      "                     STROBOLUX_PROGRAM_FOLDER). Default: the executable's folder in a\n"
      "                     build tree; ~/Strobolux for an installed program, made with its\n"
      "                     three folders on first use\n"
      "  --version          print the version\n"
      "  --help             print this text\n");
}

QStringList DeviceLines(bool formats) {
  QStringList lines;
  const auto count = static_cast<int>(wave::waveOutGetNumDevs());
  for (int device = 0; device < count; ++device) {
    wave::WAVEOUTCAPS caps;
    if (wave::waveOutGetDevCaps(device, &caps) == wave::MMSYSERR_NOERROR)
      lines << QStringLiteral("sound device: ") + caps.szPname;
  }
  if (lines.isEmpty()) lines << QStringLiteral("no sound device found");
  const std::vector<gst::CameraDevice> cameras = gst::ListCameras();
  for (const gst::CameraDevice& camera : cameras) {
    lines << QStringLiteral("camera: ") + camera.name;
    if (formats)
      for (const gst::CameraFormat& format : camera.formats)
        lines << QStringLiteral("  ") + gst::DescribeWithRates(format);
  }
  if (cameras.empty()) lines << QStringLiteral("no camera found");
  return lines;
}

ControlListing ListControls(const QString& camera) {
  ControlListing listing;
  auto fail = [&listing](const QString& why, int status) {
    listing.error = why;
    listing.status = status;
    return listing;
  };
  const std::vector<gst::CameraDevice> cameras = gst::ListCameras();
  if (cameras.empty()) return fail(QStringLiteral("no camera found"), 1);
  int row = 0;
  if (!camera.isEmpty()) {
    QStringList names;
    for (const gst::CameraDevice& device : cameras) names << device.name;
    QString why;
    row = FindName(names, camera, QStringLiteral("camera"), &why);
    if (row < 0) return fail(why, 2);
  }
  const gst::CameraDevice& device = cameras[static_cast<std::size_t>(row)];
  // Opened as a run would open it; the controls do not depend on the format.
  std::optional<gst::CameraFormat> format = gst::PreferredFormat(device);
  if (!format && device.FirstRaw()) format = device.FirstRaw()->AtDefaultRate();
  if (!format && !device.formats.empty()) format = device.formats.front();
  if (!format) return fail(QStringLiteral("%1 offers no format to open").arg(device.name), 1);
  gst::CameraPipeline pipeline;
  QString why;
  if (!pipeline.Open(device, *format, &why))
    return fail(QStringLiteral("%1 does not open: %2").arg(device.name, why), 1);
  listing.lines << QStringLiteral("camera: ") + device.name;
  const std::unique_ptr<gst::CameraControls> controls = gst::ControlsOf(pipeline);
  const std::vector<gst::ControlInfo> known =
      controls ? controls->List() : std::vector<gst::ControlInfo>{};
  for (const gst::ControlInfo& info : known)
    listing.lines << QStringLiteral("  ") + ControlLine(info, info.type == gst::ControlInfo::Button
                                                                  ? std::nullopt
                                                                  : controls->Get(info.id));
  if (known.empty()) listing.lines << QStringLiteral("  (no controls)");
  return listing;
}

namespace {

const char* const kRecordingFolders[] = {"Risunki", "SnapShot", "Video"};

// What is wrong with a folder the program writes into, as the end of a line; empty if nothing.
QString FolderProblem(const QString& folder) {
  const QFileInfo info(folder);
  if (!info.exists()) return QStringLiteral("does not exist");
  if (!info.isDir()) return QStringLiteral("is not a folder");
  // Asking for the permission bits is not enough (root, read-only mounts): try a file.
  QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".strobolux-XXXXXX")));
  if (!probe.open()) return QStringLiteral("is not writable");
  return QString();
}

// Where distributions and `cmake --install` put programs: nothing is recorded beside them.
bool UnderSystemPrefix(const QString& folder) {
  const QString inside = folder + QLatin1Char('/');
  for (const char* prefix : {"/usr/", "/bin/", "/sbin/", "/lib/", "/opt/", "/snap/"})
    if (inside.startsWith(QLatin1String(prefix))) return true;
  return false;
}

}  // namespace

void EnsureRuntimeFolder() {
  if (!Env("XDG_RUNTIME_DIR").isEmpty()) return;
  const QString folder = QDir::temp().filePath(QStringLiteral("runtime-%1").arg(::geteuid()));
  const QByteArray native = QFile::encodeName(folder);
  // Ours alone, or Qt's own warning says what is wrong with it.
  if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) return;
  struct stat info {};
  if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      info.st_uid != ::geteuid() || (info.st_mode & 0777) != 0700)
    return;
  qputenv("XDG_RUNTIME_DIR", native);
}

QString VersionText() {
  return QStringLiteral("strobolux ") + QStringLiteral(STROBOLUX_VERSION);
}

QString ExecutableFolder() {
  return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).path();
}

QString HomeFolder() {
  QString home = Env("HOME");
  if (!home.isEmpty()) return home;
  // Services and `env -i` may leave HOME unset: the account still has one.
  const passwd* account = ::getpwuid(::geteuid());
  return account && account->pw_dir ? QFile::decodeName(account->pw_dir) : QString();
}

QString DefaultProgramFolder(const QString& executableFolder, const QString& home) {
  QString folder = QDir::cleanPath(executableFolder);
  // A build tree (its cache beside bin/) records beside its executable wherever it lies; an
  // installation under a prefix of the user's own (~/.local, an unpacked package) has the
  // program's documents beside its bin/ instead.
  const bool buildTree = QDir(folder).exists(QStringLiteral("../CMakeCache.txt"));
  const bool installed =
      UnderSystemPrefix(folder) || QDir(folder).exists(QStringLiteral("../share/doc/strobolux"));
  if ((buildTree || !installed) && FolderProblem(folder).isEmpty()) return folder;
  if (home.isEmpty()) return QString();
  return QDir(home).filePath(QStringLiteral("Strobolux"));
}

QString MakeProgramFolders(const QString& folder) {
  for (const char* name : kRecordingFolders) {
    const QString path = QDir(folder).filePath(QString::fromLatin1(name));
    if (!QDir().mkpath(path)) return QStringLiteral("cannot make the folder %1").arg(path);
  }
  return QString();
}

QString ProgramFolderProblem(const QString& folder) {
  const QString problem = FolderProblem(folder);
  return problem.isEmpty() ? QString()
                           : QStringLiteral("program folder %1 %2").arg(folder, problem);
}

QString RecordingFoldersProblem(const QString& folder) {
  for (const char* name : kRecordingFolders) {
    const QString path = QDir(folder).filePath(QString::fromLatin1(name));
    const QString problem = FolderProblem(path);
    if (!problem.isEmpty()) return QStringLiteral("folder %1 %2").arg(path, problem);
  }
  return QString();
}

QStringList RepairVideoFolder(const QString& programFolder) {
  QStringList lines;
  for (const gst::AviRepairReport& report :
       gst::RepairAviFolder(QDir(programFolder).filePath(QStringLiteral("Video"))))
    lines << report.Text();
  return lines;
}

bool RepairAviFile(const QString& path, QString* line) {
  const gst::AviRepairReport report = gst::RepairAvi(path);
  *line = report.Text();
  return report.outcome != gst::AviRepairReport::Outcome::Failed;
}

void WaitForVideoReleases() {
  gst::WaitForVideoReleases();
}

QString DisplayProblem() {
  const QString platform = Env("QT_QPA_PLATFORM").section(QLatin1Char(':'), 0, 0);
  const bool wantX = platform.isEmpty() || platform == QLatin1String("xcb");
  const bool wantWayland = platform.isEmpty() || platform.startsWith(QLatin1String("wayland"));
  if (!wantX && !wantWayland) return QString();  // offscreen, vnc, …: no display needed
  const QString x = wantX ? Env("DISPLAY") : QString();
  const QString wayland = wantWayland ? Env("WAYLAND_DISPLAY") : QString();
  if (x.isEmpty() && wayland.isEmpty()) {
    return QStringLiteral(
        "no display found (DISPLAY and WAYLAND_DISPLAY are unset); start it from a desktop "
        "session or under Xvfb, or try --demo-run SECONDS, which needs none");
  }
  if (!wayland.isEmpty() && SocketAnswers(WaylandSocket(wayland))) return QString();
  if (!x.isEmpty() && XDisplayOpens(x)) return QString();
  QStringList failed;
  if (!x.isEmpty()) failed << QStringLiteral("X display \"%1\" (DISPLAY)").arg(x);
  if (!wayland.isEmpty())
    failed << QStringLiteral("Wayland display \"%1\" (WAYLAND_DISPLAY)").arg(wayland);
  return QStringLiteral(
             "cannot open the %1; is the display server running and open to this "
             "user? --demo-run SECONDS needs no display")
      .arg(failed.join(QStringLiteral(" nor the ")));
}

}  // namespace app

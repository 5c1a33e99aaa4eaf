#include "app/demo_run.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStorageInfo>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <optional>

#include "app/camera_calibration.h"
#include "app/main_window.h"
#include "app/run_settings.h"
#include "platform/forms/conversions.h"
#include "platform/forms/dialog.h"
#include "platform/forms/message_box.h"
#include "platform/forms/runtime_error.h"
#include "platform/gst/camera_controls.h"
#include "platform/gst/exposure_lock.h"
#include "platform/gst/format_choice.h"
#include "platform/gst/test_scene.h"
#include "platform/gst/virtual_devices.h"
#include "platform/wave/wav_file.h"
#include "platform/wave/wave_out.h"
#include "recording/frame_files.h"
#include "recording/output_files.h"

namespace app {
namespace {

const char* const kWavName = "strobolux-demo-tone.wav";

// Lets the window work for a while, as an operator's pause would.
void Pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// SIGINT and SIGTERM stop the run as the stop button does: the handler only writes a byte
// that the event loop reads. A second one while the stop is under way ends the process at
// once: pictures and the plot are written under a temporary name and renamed and log rows
// are whole lines, so what was written stays readable (an AVI being closed may lack its
// index).
class StopOnSignals {
 public:
  explicit StopOnSignals(std::function<void()> stop) : stop_(std::move(stop)) {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    write_end_ = fds_[1];
    notifier_.emplace(fds_[0], QSocketNotifier::Read);
    QObject::connect(&*notifier_, &QSocketNotifier::activated, [this] {
      char byte = 0;
      while (::read(fds_[0], &byte, 1) == 1) {
      }
      if (stop_) stop_();
    });
    struct sigaction action {};
    action.sa_handler = &StopOnSignals::Handle;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
  }
  ~StopOnSignals() {
    if (write_end_ < 0) return;
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    write_end_ = -1;
    notifier_.reset();
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  static void Handle(int signal) {
    if (stopping_) ::_exit(128 + signal);
    stopping_ = 1;
    // The clock mode sees the stop at its next picture; say that it is coming.
    static const char kNotice[] =
        "strobolux: stopping at the next picture (a second signal ends at once)\n";
    [[maybe_unused]] const ssize_t told = ::write(STDERR_FILENO, kNotice, sizeof kNotice - 1);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(write_end_, &byte, 1);
  }

  static inline volatile sig_atomic_t stopping_ = 0;
  static inline int write_end_ = -1;
  int fds_[2] = {-1, -1};
  std::optional<QSocketNotifier> notifier_;
  std::function<void()> stop_;
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

// What a run shows while it goes: on a terminal one line rewritten every second, else a line
// every 10 s.
class Progress {
 public:
  Progress(Form1& form, int plannedSeconds) : form_(form), planned_(plannedSeconds) {
    terminal_ = ::isatty(STDOUT_FILENO) == 1;
    clock_.start();
    QObject::connect(&timer_, &QTimer::timeout, [this] { Show(); });
    timer_.start(terminal_ ? 1000 : 10000);
    QObject::connect(&forecast_timer_, &QTimer::timeout, [this] { ShowForecast(); });
    forecast_timer_.start(100);
  }
  ~Progress() {
    if (terminal_ && shown_) std::printf("\n");
    std::fflush(stdout);
  }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  // The phase error a run choosing its frames by phase may expect, once, as soon as the run's
  // start has said it: before the first progress line.
  void ShowForecast() {
    if (forecast_shown_ || form_.Recorder().FrameChoiceForecastText().line.isEmpty()) return;
    if (terminal_ && shown_) std::printf("\n");
    std::printf("%s\n", form_.Recorder().FrameChoiceForecastText().line.toUtf8().constData());
    std::fflush(stdout);
    forecast_shown_ = true;
    forecast_timer_.stop();
    shown_ = false;
  }

  void Show() {
    ShowForecast();
    const double elapsed = clock_.elapsed() / 1000.0;
    QString line = QStringLiteral("%1 s").arg(elapsed, 0, 'f', 0);
    if (planned_ > 0) line += QStringLiteral(" / %1 s").arg(planned_);
    const std::int64_t pictures = form_.Recorder().LoggedRows();
    line += QStringLiteral("  pictures %1").arg(pictures);
    const std::optional<recording::PictureLogRow>& row = form_.Recorder().LastRow();
    // The picture's phase: its exposure's once the camera's delay is calibrated.
    const std::optional<double> phase = row ? recording::PicturePhase(*row) : std::nullopt;
    if (phase && row->idealPhase)
      line += QStringLiteral("  phase error %1°")
                  .arg(recording::PhaseError(*phase, *row->idealPhase), 0, 'f', 1);
    if (row && row->dueMs && row->actualMs)
      line += QStringLiteral("  late %1 ms").arg(*row->actualMs - *row->dueMs, 0, 'f', 1);
    const QString folder = form_.Recorder().Names().PictureFolder;
    if (!folder.isEmpty()) {
      const QStorageInfo disk(folder);
      const double free = static_cast<double>(disk.bytesAvailable());
      line += QStringLiteral("  free %1 GB").arg(free / 1e9, 0, 'f', 1);
      // The Timer 1 mode renews one picture: the disk does not fill.
      if (row && elapsed > 0 && pictures > 0 && !form_.Generator().TimerMode()) {
        // A picture and, when the camera's frames are saved, its frame.
        double size = static_cast<double>(QFileInfo(QDir(folder).filePath(row->file)).size());
        if (!row->frameFile.isEmpty())
          size += static_cast<double>(QFileInfo(QDir(folder).filePath(row->frameFile)).size());
        const double perSecond = size * static_cast<double>(pictures) / elapsed;
        if (perSecond > 0)
          line += QStringLiteral(", full in %1 h").arg(free / perSecond / 3600, 0, 'f', 1);
      }
    }
    const QByteArray text = line.toLocal8Bit();
    if (terminal_)
      std::printf("\r%s\033[K", text.constData());  // the line rewritten in place
    else
      std::printf("%s\n", text.constData());
    std::fflush(stdout);
    shown_ = true;
  }

  Form1& form_;
  bool forecast_shown_ = false;
  QTimer forecast_timer_;
  int planned_;
  bool terminal_ = false;
  bool shown_ = false;
  QElapsedTimer clock_;
  QTimer timer_;
};

// A warning when the program folder's disk cannot hold an hour of pictures at the planned
// rate, or the whole of a longer run; the run starts all the same. The Timer 1 mode renews one
// picture and fills nothing.
void WarnOfDisk(Form1& form, bool jpeg, int plannedSeconds) {
  if (form.Option6->isChecked()) return;
  double perSecond = 0;
  try {  // read as the window reads them; the start's own check has taken them already
    perSecond = forms::CDbl(form.Text4->text()) / forms::CLng(form.Text7->text());
  } catch (const std::exception&) {
    return;  // not reached: a value that is no number was refused before
  }
  if (!(perSecond > 0)) return;
  // A BMP has the picture panel's size; a JPEG of a camera scene stays under about 100 kB. A
  // frame saved beside it is counted at its raw size: a real camera's noise leaves PNG little
  // to take away.
  double size = jpeg ? 100e3 : 640.0 * 480 * 3;
  if (const recording::FrameFiles frames = recording::FrameFilesChosen();
      frames != recording::FrameFiles::None) {
    QSize frame(640, 480);
    try {
      const gst::CameraFormat& format = form.Camera().RecordingCamera().Format();
      frame = QSize(format.width, format.height);
    } catch (const std::exception&) {
      // No frame yet: the usual webcam size.
    }
    size +=
        double(frame.width()) * frame.height() * (frames == recording::FrameFiles::Grey ? 1 : 3);
  }
  const double free =
      static_cast<double>(QStorageInfo(recording::ProgramFolder()).bytesAvailable());
  const double hours = free / (size * perSecond * 3600);
  if (hours < std::max(1.0, plannedSeconds / 3600.0))
    std::fprintf(
        stderr,
        "strobolux: warning: the disk holds about %.1f hours of pictures at %.3g a second\n", hours,
        perSecond);
}

// A status line that tells of a device's failure.
bool IsFailure(const QString& status) {
  return status.startsWith(QStringLiteral(" Sound error: ")) ||
         status.startsWith(QStringLiteral(" Camera error: ")) ||
         status.startsWith(QStringLiteral(" Video capture failed: "));
}

// Chooses a row of a combo box the way a click on its list does.
void ChooseRow(forms::ComboBox* combo, int row) {
  combo->setCurrentIndex(row);
  emit combo->Click(row);
}

int FindRow(const QComboBox& list, const QString& name, QString* why) {
  QStringList texts;
  for (int i = 0; i < list.count(); ++i) texts << list.itemText(i);
  return FindName(texts, name, QStringLiteral("camera"), why);
}

// What the run's pictures applied of the camera's delay.
QString AppliedDelay(const std::optional<recording::PictureRecorder::CameraTiming>& timing) {
  if (!timing) return {};
  if (!timing->delayMs)
    return QStringLiteral(
        "none (not calibrated: the exposure phases are those of the frames' "
        "arrival, less half the exposure where it is known)");
  return QStringLiteral("%1 ms (calibrated)").arg(*timing->delayMs, 0, 'f', 1);
}

// The demo's settings, as an operator would set them for the built-in devices.
RunSettings DemoSettings(int seconds) {
  RunSettings run;
  run.seconds = seconds;
  run.soundDevice = DemoSoundDeviceName();
  run.camera = QString::fromLatin1(gst::kTestCameraYuy2);
  run.numerator = QStringLiteral("10");
  run.denominator = QStringLiteral("2");  // the shortest buffer the generator takes
  run.every = QStringLiteral("4");        // two tone periods: every picture on one phase
  run.showPictures = true;
  return run;
}

// Why the run's camera cannot open in --camera-format, before it is switched on: the camera
// the back end will connect does not offer it. Empty when it does, or when the switch-on
// will say what is wrong with the camera itself.
QString FormatRefusal(const RunSettings& run, bool filterGraph) {
  std::vector<gst::CameraDevice> cameras = gst::ListCameras();
  // The capture window's cameras are those with a format the camera pipeline opens.
  if (!filterGraph)
    cameras.erase(std::remove_if(cameras.begin(), cameras.end(),
                                 [](const gst::CameraDevice& c) { return !c.HasOpenable(); }),
                  cameras.end());
  QStringList names;
  for (const gst::CameraDevice& camera : cameras) names << camera.name;
  QString why;
  const int row = run.camera.isEmpty() ? 0 : FindName(names, run.camera, {}, &why);
  if (row < 0 || row >= static_cast<int>(cameras.size())) return {};
  const gst::CameraDevice& camera = cameras[static_cast<std::size_t>(row)];
  if (gst::FindFormat(camera, *run.cameraFormat)) return {};
  return QStringLiteral(
             "--camera-format %1: %2 does not offer it; --list-devices --formats lists its "
             "formats")
      .arg(run.cameraFormat->Text(), camera.name);
}

// The camera once on: the format it delivers, checked against --camera-format, and the
// --control values set in it. Returns the refusal of a control (nothing else has started);
// a camera that does not deliver what was asked is a failure of the run.
QString SetUpCamera(Form1& form, const RunSettings& run, bool scripted, DemoRunSummary& summary) {
  gst::CameraPipeline* camera = nullptr;
  // A real camera may take a few seconds to its first frame.
  for (QElapsedTimer waited; !camera;) {
    if (!waited.isValid()) waited.start();
    try {
      camera = &form.Camera().RecordingCamera();
    } catch (const forms::RuntimeError&) {
      if (waited.elapsed() > 10000) break;
      Pause(100);
    }
  }
  if (!camera) {
    if (run.cameraFormat || !run.controls.empty())
      summary.failure = QStringLiteral("the camera gave no frame to check its settings by");
    return {};
  }
  const std::optional<gst::CameraFormat> delivered = gst::DeliveredFormat(*camera);
  // Said for --run; the demo run's summary stays as it was.
  if (scripted)
    summary.cameraFormat = gst::DescribeWithRates(delivered ? *delivered : camera->Format());
  if (run.cameraFormat) {
    gst::CameraDevice running;
    if (delivered) running.formats = {*delivered};
    if (!gst::FindFormat(running, *run.cameraFormat)) {
      summary.failure = QStringLiteral("the camera runs in %1, not in --camera-format %2")
                            .arg(gst::DescribeWithRates(delivered ? *delivered : camera->Format()),
                                 run.cameraFormat->Text());
      return {};
    }
  }
  if (run.controls.empty()) return {};
  const std::unique_ptr<gst::CameraControls> controls = gst::ControlsOf(*camera);
  if (!controls)
    return QStringLiteral("--control %1=%2: the camera has no controls")
        .arg(run.controls.front().first, run.controls.front().second);
  return ApplyCameraControls(*controls, run.controls, &summary.cameraControls);
}

// What the analysis of every frame did, for a scripted run's summary.
QStringList AllFramesLines(const recording::FrameAnalysisResult& result) {
  QStringList lines;
  lines << QStringLiteral(
               "all frames: %1 analysed, %2 left out while busy, %3 before the first picture's "
               "instant, %4 outside the tone")
               .arg(result.frames)
               .arg(result.dropped)
               .arg(result.beforeFirstInstant)
               .arg(result.outside);
  if (result.binFrames)
    lines << QStringLiteral("phase bins: %1 bins, %2 empty%3")
                 .arg(result.binFrames->size())
                 .arg(result.emptyBins)
                 .arg(result.binsWritten ? QStringLiteral(", written in bins/") : QString());
  if (result.distinctPhases)
    lines << QStringLiteral("lock-in maps: %1 (%2 distinct phases)")
                 .arg(result.mapsWritten ? QStringLiteral("written") : QStringLiteral("not made"))
                 .arg(*result.distinctPhases);
  if (!result.line.isEmpty()) lines << QStringLiteral("all frames: ") + result.line;
  return lines;
}

// The script; every step goes through the control or handler the operator would use. The
// settings are typed and checked first, so a refused one stops it before the camera or tone.
void Operate(Form1& form, const DemoRunSettings& settings, DemoRunSummary& summary) {
  const RunSettings run = settings.run ? *settings.run : DemoSettings(settings.seconds);
  auto stop = [&](const QString& why) {
    summary.failure = why;
    form.Command16->click();
  };
  // The strobe decides the sound format the settings' check asks the device for.
  if (run.strobe || run.strobeWidthMs) {
    generator::StrobeSettings strobe = recording::StrobeChosen();
    if (run.strobe) strobe.mode = *run.strobe;
    if (run.strobeWidthMs) strobe.widthMs = *run.strobeWidthMs;
    recording::ForceStrobe(strobe);
    form.Generator().SetStrobe(strobe);
  }
  if (run.frameChoice) recording::ForceFrameChoice(*run.frameChoice);
  if (run.phaseBins || run.lockIn) {
    recording::FrameAnalysisSettings analysis = recording::FrameAnalysisChosen();
    analysis.phaseBins = run.phaseBins.value_or(0);
    if (run.binsFps) analysis.binsFps = *run.binsFps;
    analysis.lockIn = run.lockIn;
    recording::ForceFrameAnalysis(analysis);
  }
  if (const QString refusal = ApplyRunSettings(form, run); !refusal.isEmpty()) {
    summary.refused = refusal;
    return form.Command16->click();
  }
  if (run.cameraFormat) {
    if (const QString refusal = FormatRefusal(run, settings.filterGraph); !refusal.isEmpty()) {
      summary.refused = refusal;
      return form.Command16->click();
    }
    gst::ForceFormat(*run.cameraFormat);
  }
  if (run.lockExposure) gst::ForceExposureLock();
  if (run.frames) recording::ForceFrameFiles(*run.frames);
  (settings.filterGraph ? form.Option8 : form.Option7)->click();
  form.Command11->click();
  QString why;
  if (!settings.filterGraph && form.CameraOn() == 1 && !run.camera.isEmpty()) {
    // The capture window connects the first camera; its source dialog chooses another.
    const forms::DialogFunction previous = forms::SetDialogFunction([&](QDialog& dialog) {
      auto* cameras = dialog.findChild<QComboBox*>(QStringLiteral("Camera"));
      const int row = cameras ? FindRow(*cameras, run.camera, &why) : -1;
      if (row < 0 || row == cameras->currentIndex()) return int(QDialog::Rejected);
      cameras->setCurrentIndex(row);
      return int(QDialog::Accepted);
    });
    form.Command15->click();
    forms::SetDialogFunction(previous);
    if (!why.isEmpty()) return stop(why);
  }
  if (settings.filterGraph) {
    const int cameraRow = run.camera.isEmpty() ? 0 : FindRow(*form.Combo2, run.camera, &why);
    if (cameraRow < 0 || cameraRow >= form.Combo2->count())
      return stop(why.isEmpty() ? QStringLiteral("no camera found") : why);
    ChooseRow(form.Combo2, cameraRow);
    QRadioButton* format = settings.jpeg ? form.Option10 : form.Option9;
    format->click();
    if (!format->isChecked()) return stop(QStringLiteral("the picture format cannot be chosen"));
  }
  if (form.CameraOn() != 1) return stop(QStringLiteral("the camera did not switch on"));
  Pause(500);  // the first frames arrive
  // A setting the camera refuses ends the run before the tone and its run folder.
  if (const QString refusal = SetUpCamera(form, run, settings.run.has_value(), summary);
      !refusal.isEmpty()) {
    summary.refused = refusal;
    return form.Command16->click();
  }
  if (!summary.failure.isEmpty()) return stop(summary.failure);
  if (settings.calibrateSeconds > 0) {
    const CalibrationOutcome outcome = CalibrateCamera(form, settings.calibrateSeconds);
    summary.cameraDelay = outcome.message;
    if (!outcome.stored && summary.failure.isEmpty())
      summary.failure = QStringLiteral("no camera delay was stored");
    if (!form.Unloaded()) form.Command16->click();
    return;
  }
  if (!form.Command20->isEnabled()) return stop(QStringLiteral("the tone cannot be started"));
  WarnOfDisk(form, settings.jpeg, run.seconds);
  QString video;
  if (run.video) {
    form.Command24->click();
    // Read now: the pictures name other files later.
    video = form.Recorder().Names().OutputFileName + QStringLiteral(".avi");
  }
  // The stop button ends the tone; a video is ended first by its own stop, which writes the
  // AVI's index.
  auto stopRun = [&form, video = run.video] {
    if (video) form.Command1->click();
    if (form.Command4->isEnabled()) form.Command4->click();
  };
  // In the clock mode the start returns only after the stop; 0 seconds: until stopped.
  // A deadline rather than a timer, whose interval would overflow after 24 days.
  const QDeadlineTimer timeUp = run.seconds > 0 ? QDeadlineTimer(std::chrono::seconds(run.seconds))
                                                : QDeadlineTimer(QDeadlineTimer::Forever);
  // The time, a message box or a device's failure ends the run: whatever the window does after
  // a failure, the script cannot answer it. Read as they come, since a later success clears a
  // status line.
  const qsizetype shownBefore = summary.messages.size();
  auto check = [&] {
    for (const QString& status : {form.Label12->text(), form.Label1->text()})
      if (summary.failure.isEmpty() && IsFailure(status)) summary.failure = status.trimmed();
    const bool failed = summary.messages.size() > shownBefore || !summary.failure.isEmpty();
    if ((timeUp.hasExpired() || failed) && form.Command4->isEnabled()) {
      // A failure says itself in the run's record.
      if (!failed) form.Recorder().NoteEndCause(QStringLiteral("time up"));
      stopRun();
    }
  };
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, check);
  watch.start(100);
  const StopOnSignals onSignals([&form, &stopRun] {
    form.Recorder().NoteEndCause(QStringLiteral("signal"));
    stopRun();
  });
  std::optional<Progress> progress(std::in_place, form, run.seconds);
  form.Command20->click();
  // The Timer 1 mode's start returns at once, as does the clock's after a failure: the run goes
  // on until the stop. The window's own exit ends it too.
  while (form.Command4->isEnabled() && !form.Unloaded()) Pause(100);
  // The run ends when its last pictures are written or failed, on the disk, and its plot
  // drawn: a failure there fails the run as one during it, with its message.
  while (form.Recorder().Finishing() && !form.Unloaded()) Pause(50);
  check();  // what the last instant and the last pictures showed
  watch.stop();
  progress.reset();
  summary.runFolder = form.Recorder().Names().PictureFolder;
  summary.cameraDelay = AppliedDelay(form.Recorder().AppliedTiming());
  if (QFile::exists(video)) summary.files << video;
  if (const std::optional<recording::FrameAnalysisResult>& all = form.Recorder().AllFramesResult())
    summary.allFrames = AllFramesLines(*all);
  else if (!form.Recorder().AllFramesRefused().isEmpty())
    summary.allFrames << QStringLiteral("all frames: not analysed: ") +
                             form.Recorder().AllFramesRefused();
  if (form.Unloaded()) return;
  Pause(200);
  form.Command16->click();
}

int CountPictures(const QString& folder, bool jpeg) {
  if (folder.isEmpty()) return 0;
  const QString pattern = jpeg ? QStringLiteral("*.jpg") : QStringLiteral("*.bmp");
  return static_cast<int>(QDir(folder).entryList({pattern}, QDir::Files).size());
}

}  // namespace

QString DemoSoundDeviceName() {
  return QStringLiteral("Встроенный выход в файл ") + QString::fromLatin1(kWavName);
}

QString DemoWavPath() {
  return QDir(recording::ProgramFolder()).filePath(QString::fromLatin1(kWavName));
}

void RegisterDemoDevices(const SceneOptions& scene) {
  gst::SceneSettings settings = gst::TestSceneSettings();
  settings.delayMs = scene.delayMs.value_or(40);
  settings.exposureMs = scene.exposureMs.value_or(10);
  settings.jitterMs = scene.jitterMs.value_or(1);
  if (scene.rate) settings.rates = {*scene.rate};
  if (scene.ambient) settings.ambient = *scene.ambient;
  settings.responsePatches = scene.patches;
  gst::SetTestSceneSettings(settings);
  gst::RegisterVirtualSoundDevice(DemoSoundDeviceName(), DemoWavPath());
  gst::RegisterVirtualCameras();
}

DemoRunSummary RunDemo(const DemoRunSettings& settings) {
  DemoRunSummary summary;
  // Recorded as they come: the script tells a refused setting by the box it brought.
  const forms::MessageBoxFunction previous = forms::SetMessageBoxFunction(
      [&summary](const QString& text, const QString&) { summary.messages << text; });
  {
    Form1 form;
    form.show();
    QTimer::singleShot(0, &form, [&] { Operate(form, settings, summary); });
    QApplication::exec();  // the exit button ends it
  }
  // The device writes the WAV's sizes when it is released, behind the stop.
  wave::WaitForReleases();
  forms::SetMessageBoxFunction(previous);
  summary.pictures = CountPictures(summary.runFolder, settings.jpeg);
  for (const char* name : {"log.csv", "phase.png"}) {
    const QString path = QDir(summary.runFolder).filePath(QString::fromLatin1(name));
    if (!summary.runFolder.isEmpty() && QFile::exists(path)) summary.files << path;
  }
  // A real sound device leaves no file to read; the demo's built-in one plays into its WAV.
  if (settings.run) return summary;
  summary.wavPath = DemoWavPath();
  const wave::WavContent wav = wave::ReadWav(summary.wavPath);
  if (wav.valid && wav.sampleRate > 0)
    summary.wavSeconds = static_cast<double>(wav.samples.size()) / wav.sampleRate;
  return summary;
}

QStringList SummaryLines(const DemoRunSummary& summary) {
  QStringList lines;
  lines << QStringLiteral("run folder: %1")
               .arg(summary.runFolder.isEmpty() ? QStringLiteral("(none)")
                                                : QDir::toNativeSeparators(summary.runFolder));
  lines << QStringLiteral("pictures written: %1").arg(summary.pictures);
  if (!summary.wavPath.isEmpty()) {
    lines << QStringLiteral("tone WAV: %1, %2 s")
                 .arg(QDir::toNativeSeparators(summary.wavPath))
                 .arg(summary.wavSeconds, 0, 'f', 2);
  }
  for (const QString& file : summary.files) {
    const QString kind = file.endsWith(QLatin1String(".png"))   ? QStringLiteral("phase plot: ")
                         : file.endsWith(QLatin1String(".avi")) ? QStringLiteral("video: ")
                                                                : QStringLiteral("log: ");
    lines << kind + QDir::toNativeSeparators(file);
  }
  if (!summary.cameraFormat.isEmpty())
    lines << QStringLiteral("camera format: ") + summary.cameraFormat;
  for (const QString& control : summary.cameraControls)
    lines << QStringLiteral("camera control: ") + control;
  if (!summary.cameraDelay.isEmpty())
    lines << QStringLiteral("camera delay: ") + summary.cameraDelay;
  lines << summary.allFrames;
  for (const QString& text : summary.messages) lines << QStringLiteral("message box: ") + text;
  if (!summary.failure.isEmpty()) lines << QStringLiteral("demo run failed: ") + summary.failure;
  return lines;
}

}  // namespace app

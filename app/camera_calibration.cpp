#include "app/camera_calibration.h"

#include <QEventLoop>
#include <QLocale>
#include <QTimer>
#include <cmath>
#include <memory>
#include <mutex>

#include "analysis/delay_calibration.h"
#include "app/logging.h"
#include "app/main_window.h"
#include "platform/forms/clock.h"
#include "platform/forms/runtime_error.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/gst_util.h"
#include "recording/picture_recorder.h"

namespace app {

Q_LOGGING_CATEGORY(lcApp, "strobolux.app")

namespace {

// A frame shows light from up to this long before its timestamp: frames of a segment's first
// second may show the silence before the tone.
constexpr std::int64_t kLongestDelayNs = 1'100'000'000;
constexpr int kToneDenominator = 4;
// Each tone's half gives about 2 s of frames after its first 1.1 s: 30 frames at 15 frames a
// second, the fewest a fit takes.
constexpr int kShortestSeconds = 6;

// What the camera's streaming thread needs to place a frame on the tone: the tone's timeline
// as the window last read it, and the segment it belongs to. The window renews it while the
// tone plays; frames before the tone, or of another tone, are left out.
class FrameSink {
 public:
  explicit FrameSink(const std::vector<double>& toneHz) : calibrator_(toneHz) {}

  void Play(int segment, const generator::ToneTimeline& timeline, std::int64_t steadyToLocalNs) {
    std::lock_guard lock(mutex_);
    segment_ = segment;
    timeline_ = timeline;
    steady_to_local_ns_ = steadyToLocalNs;
  }
  void Silence() {
    std::lock_guard lock(mutex_);
    segment_ = -1;
  }

  // On the streaming thread.
  void Take(const gst::CameraFrame& frame) {
    std::lock_guard lock(mutex_);
    if (segment_ < 0 || !timeline_.toneAnswered || !frame.Bits()) return;
    const std::int64_t local = frame.CaptureNs() + steady_to_local_ns_;
    const std::int64_t firstSampleLocal =
        timeline_.reading.localNs + (timeline_.reading.firstSampleNs - timeline_.reading.clockNs);
    if (local < firstSampleLocal + kLongestDelayNs) return;
    const std::optional<double> phase = timeline_.PhaseAt(local);
    if (!phase) return;
    calibrator_.Add(segment_,
                    {.bgrx = frame.Bits(),
                     .width = frame.Width(),
                     .height = frame.Height(),
                     .stride = frame.Stride()},
                    *phase);
    ++frames_;
  }

  analysis::CalibrationResult Finish(std::optional<double> exposureMs) {
    std::lock_guard lock(mutex_);
    return calibrator_.Finish(exposureMs);
  }
  int Frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  std::mutex mutex_;
  analysis::DelayCalibrator calibrator_;
  int segment_ = -1;
  generator::ToneTimeline timeline_;
  std::int64_t steady_to_local_ns_ = 0;
  int frames_ = 0;
};

// The window's tone settings, put back when the calibration ends however it ends.
class SavedToneSettings {
 public:
  explicit SavedToneSettings(Form1& form)
      : form_(form),
        numerator_(form.Text4->text()),
        denominator_(form.Text27->text()),
        record_(form.Check2->isChecked()),
        timer_mode_(form.Option6->isChecked()) {}
  ~SavedToneSettings() {
    form_.Text4->setText(numerator_);
    form_.Text27->setText(denominator_);
    form_.Check2->setChecked(record_);
    if (timer_mode_) form_.Option6->click();
  }
  SavedToneSettings(const SavedToneSettings&) = delete;
  SavedToneSettings& operator=(const SavedToneSettings&) = delete;

 private:
  Form1& form_;
  QString numerator_, denominator_;
  bool record_, timer_mode_;
};

QString FailureMessage(analysis::CalibrationResult::Failure failure) {
  using Failure = analysis::CalibrationResult::Failure;
  switch (failure) {
    case Failure::TooFewFrames:
      return QStringLiteral(
          "Задержка камеры не измерена: слишком мало кадров. Проверьте, что камера включена и "
          "даёт кадры, и увеличьте время калибровки.");
    case Failure::NoResponse:
      return QStringLiteral(
          "Задержка камеры не измерена: в кадре нет области, яркость которой следует за тоном. "
          "Направьте камеру на светодиод, подключённый к выходу звуковой карты, и проверьте, "
          "что он мигает.");
    case Failure::Aliased:
      return QStringLiteral(
          "Задержка камеры не измерена: при этой частоте кадров кадры приходятся не на все "
          "фазы тона. Выберите другую частоту кадров (15, 30 или 60 кадров в секунду).");
    case Failure::Inconsistent:
      return QStringLiteral(
          "Задержка камеры не измерена: на двух частотах тона получились несогласованные "
          "задержки. Уберите из кадра другие мигающие источники; если светодиод подключён к "
          "выходу с разделительным конденсатором, подключите его к выходу без конденсатора "
          "или через усилитель и повторите калибровку.");
    case Failure::None:
      break;
  }
  return {};
}

}  // namespace

QString DelayMessage(const gst::CameraSetup& setup, const gst::CameraDelay& delay) {
  const QLocale locale;
  const QString exposure =
      delay.exposureMs > 0
          ? QStringLiteral("экспозиция %1 мс").arg(locale.toString(delay.exposureMs, 'f', 1))
          : QStringLiteral(
                "экспозиция автоматическая: задержка отсчитана до середины "
                "экспозиции");
  return QStringLiteral("Задержка камеры %1 \u00B1 %2 мс (%3) для %4")
      .arg(locale.toString(delay.delayMs, 'f', 1), locale.toString(delay.uncertaintyMs, 'f', 1),
           exposure, setup.shown);
}

CalibrationOutcome CalibrateCamera(Form1& form, int seconds) {
  CalibrationOutcome outcome;
  gst::CameraPipeline* camera = nullptr;
  try {
    camera = &form.Camera().RecordingCamera();
  } catch (const forms::RuntimeError&) {
    outcome.message = QStringLiteral("Задержка камеры не измерена: камера не включена.");
    return outcome;
  }
  outcome.setup = gst::SetupOf(*camera);
  const double fps = camera->FramesPerSecond() > 0 ? camera->FramesPerSecond() : 30;
  const std::array<double, 2> tones = analysis::CalibrationTones(fps);
  auto sink = std::make_shared<FrameSink>(std::vector<double>{tones[0], tones[1]});
  camera->SetFrameObserver([sink](const gst::FramePtr& frame) { sink->Take(*frame); });
  struct StopObserving {
    gst::CameraPipeline* camera;
    QPointer<QObject> alive;
    ~StopObserving() {
      if (alive) camera->SetFrameObserver({});
    }
  } stopObserving{camera, camera};
  {
    const SavedToneSettings saved(form);
    form.Check2->setChecked(false);  // no pictures: the tone and the frames only
    form.Option5->click();           // the clock mode: the start returns after the stop
    const int half = std::max(kShortestSeconds, seconds) / 2;
    for (int segment = 0; segment < 2 && !form.Unloaded(); ++segment) {
      // The tones are whole quarter-hertz: N / 4 Hz, which the generator takes as it is.
      const double hz = tones[static_cast<std::size_t>(segment)];
      form.Text4->setText(QString::number(std::lround(hz * kToneDenominator)));
      form.Text27->setText(QString::number(kToneDenominator));
      // While the tone plays, the frames' sink follows its timeline; the stop ends the segment
      // (the frames of its first 1.1 s are left out, so it runs that much longer). Frames
      // after the stop show a light that no longer follows the tone: the sink stops first.
      QTimer follow;
      bool played = false;
      QObject::connect(&follow, &QTimer::timeout, [&form, &played, sink, segment] {
        if (!form.Generator().RunActive()) return;
        played = true;
        // The generator's moments are on the program's time source, frames on the steady clock.
        const recording::ClockPair now = recording::ReadClocks(forms::SystemTime());
        const std::int64_t steadyToLocal = now.localNs - now.steadyNs;
        sink->Play(segment, form.Generator().Timeline(), steadyToLocal);
      });
      follow.start(100);
      QTimer stopAfter;  // a segment's own: a start that failed leaves none behind
      stopAfter.setSingleShot(true);
      QObject::connect(&stopAfter, &QTimer::timeout, [&form, sink] {
        sink->Silence();
        if (form.Generator().RunActive()) form.Command4->click();
      });
      stopAfter.start((half + 1) * 1000);
      form.Command20->click();
      // In the clock mode the start returns after the stop; one that failed (its message box
      // shown) returns at once, and the calibration ends there.
      while (form.Generator().RunActive() && !form.Unloaded()) {
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
      }
      follow.stop();
      sink->Silence();
      if (form.Unloaded()) break;
      // A tone that did not start, or stopped before its time (its device failed, the stop
      // button): what was measured is not enough to trust.
      if (!played || stopAfter.isActive()) {
        outcome.message =
            played ? QStringLiteral("Задержка камеры не измерена: тон остановился раньше времени.")
                   : QStringLiteral("Задержка камеры не измерена: тон не запустился.");
        qCWarning(lcApp).noquote() << "camera calibration:" << outcome.message;
        return outcome;
      }
    }
  }
  if (form.Unloaded()) {
    outcome.message = QStringLiteral("Задержка камеры не измерена: программа закрыта.");
    return outcome;
  }
  outcome.frames = sink->Frames();
  const analysis::CalibrationResult result = sink->Finish(outcome.setup.exposureMs);
  if (result.failure != analysis::CalibrationResult::Failure::None) {
    outcome.message = FailureMessage(result.failure);
    qCWarning(lcApp).noquote() << "camera calibration:" << outcome.message;
    return outcome;
  }
  gst::CameraDelay delay{.delayMs = result.delayMs,
                         .uncertaintyMs = result.uncertaintyMs,
                         .exposureMs = result.exposureAssumedMs,
                         .measured = QDateTime::currentDateTimeUtc()};
  outcome.delay = delay;
  outcome.stored = gst::StoreDelay(outcome.setup, delay);
  outcome.message = DelayMessage(outcome.setup, delay);
  qCInfo(lcApp).noquote() << "camera calibration:" << outcome.frames << "frames;"
                          << outcome.message;
  if (!outcome.stored)
    outcome.message += QStringLiteral(". Сохранить её не удалось: файл настроек недоступен.");
  return outcome;
}

}  // namespace app

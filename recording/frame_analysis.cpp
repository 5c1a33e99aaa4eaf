#include "recording/frame_analysis.h"

#include <QDir>
#include <QLocale>
#include <QSettings>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>

#include "analysis/frame_choice.h"
#include "analysis/lock_in.h"
#include "analysis/phase_bins.h"
#include "platform/gdiplus/encoders.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/image_avi.h"
#include "platform/gst/user_settings.h"
#include "recording/analysis_files.h"
#include "recording/durable_files.h"
#include "recording/frame_rule.h"
#include "recording/logging.h"
#include "recording/picture_writer.h"

namespace recording {

namespace {

const QString kBinsKey = QStringLiteral("recording/phase-bins");
const QString kBinsFpsKey = QStringLiteral("recording/phase-bins-fps");
const QString kLockInKey = QStringLiteral("recording/lock-in");

std::optional<FrameAnalysisSettings> forced_analysis;

const QString kBinsFolder = QStringLiteral("bins");

// Why the frames missed phases: rates whose ratio repeats after a few frames give only that
// many phases however long the run (then `phases` is that number), else the run was short.
struct Cause {
  int phases = 0;  // 0: the run was too short
  QString russian, english;
};
Cause WhyPhasesMissed(const FrameAnalysisSetup& setup, int wanted) {
  const analysis::PhaseForecast forecast = analysis::ForecastPhaseErrors(
      setup.frameRate, setup.toneHz, setup.pictureIntervalS > 0 ? setup.pictureIntervalS : 1.0);
  const int n = forecast.distinctPhases;
  if (n > 0 && n < wanted) {
    const QLocale locale;
    return {
        n,
        QString::fromUtf8("Частота кадров (%1 кадр/с) и частота тона (%2 Гц) соизмеримы: "
                          "кадры приходятся лишь на %3 %4 тона.")
            .arg(locale.toString(setup.frameRate, 'g', 6), locale.toString(setup.toneHz, 'g', 6))
            .arg(n)
            .arg(RussianPhases(n)),
        QStringLiteral("the frame rate (%1/s) and the tone (%2 Hz) are commensurate: the "
                       "frames take only %3 phases of the tone")
            .arg(setup.frameRate, 0, 'g', 6)
            .arg(setup.toneHz, 0, 'g', 6)
            .arg(n)};
  }
  return {0,
          QString::fromUtf8("Запись слишком короткая: кадры не успели пройти фазы тона. "
                            "Записывайте дольше."),
          QStringLiteral("the run was too short for the frames to pass the tone's phases; "
                         "record longer")};
}

// Why the lock-in gave no maps, and what helps.
std::pair<QString, QString> WhyNoMaps(const FrameAnalysisSetup& setup,
                                      const analysis::LockIn* lockIn) {
  const analysis::LockInRefusal refusal =
      lockIn ? lockIn->Refusal() : analysis::LockInRefusal::NoFrames;
  if (refusal == analysis::LockInRefusal::NoFrames)
    return {QString::fromUtf8("ни один кадр не проанализирован."),
            QStringLiteral("no frame was analysed")};
  if (refusal == analysis::LockInRefusal::Smeared)
    return {QString::fromUtf8("экспозиция кадров охватывает почти целые периоды тона (%1 Гц), и "
                              "отклик в них усредняется. Уменьшите экспозицию в свойствах "
                              "камеры.")
                .arg(QLocale().toString(setup.toneHz, 'g', 6)),
            QStringLiteral("the frames' exposure spans nearly whole periods of the tone (%1 Hz) "
                           "and averages the response away; shorten the exposure")
                .arg(setup.toneHz, 0, 'g', 6)};
  const Cause why = WhyPhasesMissed(setup, 3);
  QString russian = QString::fromUtf8(
                        "фазы кадров не различают синус и косинус отклика "
                        "(различных фаз: %1). %2")
                        .arg(lockIn->DistinctPhases())
                        .arg(why.russian);
  QString english = QStringLiteral(
                        "the frames' phases cannot tell the response's sine from its "
                        "cosine (%1 distinct phases): %2")
                        .arg(lockIn->DistinctPhases())
                        .arg(why.english);
  if (why.phases > 0) {
    russian += QString::fromUtf8(" Сдвиньте частоту тона на долю герца.");
    english += QStringLiteral("; move the tone by a fraction of a hertz");
  }
  return {russian, english};
}

QImage ToImage(const std::vector<std::uint32_t>& bgrx, int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    std::copy_n(bgrx.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width), width,
                reinterpret_cast<std::uint32_t*>(image.scanLine(y)));
  return image;
}

}  // namespace

FrameAnalysisSettings FrameAnalysisChosen() {
  if (forced_analysis) return *forced_analysis;
  const QSettings settings = gst::UserSettings();
  FrameAnalysisSettings chosen;
  const int bins = settings.value(kBinsKey, 0).toInt();
  chosen.phaseBins =
      bins > 0 ? std::clamp(bins, analysis::PhaseBins::kFewest, analysis::PhaseBins::kMost) : 0;
  bool ok = false;
  const double fps = settings.value(kBinsFpsKey).toDouble(&ok);
  if (ok && fps >= 1 && fps <= 60) chosen.binsFps = fps;
  chosen.lockIn = settings.value(kLockInKey, false).toBool();
  return chosen;
}

void ChooseFrameAnalysis(const FrameAnalysisSettings& chosen) {
  QSettings settings = gst::UserSettings();
  settings.setValue(kBinsKey, chosen.phaseBins);
  settings.setValue(kBinsFpsKey, chosen.binsFps);
  settings.setValue(kLockInKey, chosen.lockIn);
}

void ForceFrameAnalysis(const std::optional<FrameAnalysisSettings>& settings) {
  forced_analysis = settings;
}

struct FrameAnalysis::Shared {
  explicit Shared(const FrameAnalysisSetup& s) : setup(s) {
    if (setup.settings.phaseBins > 0)
      bins.emplace(setup.settings.phaseBins, setup.picture.width(), setup.picture.height(),
                   setup.stretch);
  }

  // The camera's thread.
  void Offer(const gst::FramePtr& frame) {
    {
      std::lock_guard lock(mutex);
      if (ending) return;
      if (waiting.size() >= kMostWaiting) {
        ++result.dropped;
        return;
      }
      waiting.push_back(frame);
    }
    changed.notify_one();
  }

  // The analysis's thread.
  void Run() {
    pthread_setname_np(pthread_self(), "frame analysis");
    for (;;) {
      gst::FramePtr frame;
      std::optional<FrameTiming> now;
      std::int64_t stop = 0;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return ending || !waiting.empty(); });
        if (waiting.empty()) return;
        frame = std::move(waiting.front());
        waiting.pop_front();
        now = timing;
        stop = stoppedNs;
      }
      Add(*frame, now, stop);
    }
  }

  void Add(const gst::CameraFrame& frame, const std::optional<FrameTiming>& now,
           std::int64_t stop) {
    const auto outside = [this] {
      std::lock_guard lock(mutex);
      ++result.outside;
    };
    if (!now) {
      // The tone's timeline comes with the run's first instant: a frame before it cannot be
      // placed without keeping it until then.
      std::lock_guard lock(mutex);
      ++result.beforeFirstInstant;
      return;
    }
    if (now->timer || !frame.Bits() || !(setup.toneHz > 0)) return outside();
    // Placed as the log places a picture's frame: an unknown exposure is taken as an instant.
    const bool exposureKnown = now->exposureMs && *now->exposureMs > 0;
    const double exposureMs = exposureKnown ? *now->exposureMs : 0;
    const ExposureSpan span = ExposureOf(frame.CaptureNs(), *now);
    // Frames exposed before the tone's first sample or after its stop show the optics at rest;
    // a frame of another size than the first shows another set-up.
    if (span.endLocalNs - now->steadyToLocalNs > stop || now->tone.MsSinceT0(span.startLocalNs) < 0)
      return outside();
    const std::optional<double> phase = now->tone.PhaseAt(span.middleLocalNs);
    if (!phase) return outside();
    if (!size) size = {frame.Width(), frame.Height()};
    if (*size != std::pair{frame.Width(), frame.Height()}) return outside();
    if (bins) bins->Add(frame.Bits(), frame.Stride(), frame.Width(), frame.Height(), *phase);
    if (setup.settings.lockIn) {
      if (!lockIn) lockIn.emplace(frame.Width(), frame.Height());
      lockIn->AddBgrx(frame.Bits(), frame.Stride(), frame.Width(), frame.Height(), *phase,
                      exposureMs * setup.toneHz / 1000);
    }
    std::lock_guard lock(mutex);
    ++result.frames;
    if (!exposureKnown) result.exposureUnknown = true;
  }

  const FrameAnalysisSetup setup;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<gst::FramePtr> waiting;
  bool ending = false;
  std::optional<FrameTiming> timing;
  std::int64_t stoppedNs = std::numeric_limits<std::int64_t>::max();
  FrameAnalysisResult result;
  // The analysis thread's alone until it has ended.
  std::optional<analysis::PhaseBins> bins;
  std::optional<analysis::LockIn> lockIn;
  std::optional<std::pair<int, int>> size;  // of the first frame placed
};

FrameAnalysis::FrameAnalysis(const FrameAnalysisSetup& setup)
    : shared_(std::make_shared<Shared>(setup)) {
  thread_ = std::thread([shared = shared_] { shared->Run(); });
}

FrameAnalysis::~FrameAnalysis() {
  if (camera_) camera_->SetFrameObserver({});
  {
    std::lock_guard lock(shared_->mutex);
    shared_->ending = true;
    shared_->waiting.clear();
  }
  shared_->changed.notify_all();
  if (thread_.joinable()) thread_.join();
}

void FrameAnalysis::Observe(gst::CameraPipeline& camera) {
  camera_ = &camera;
  camera.SetFrameObserver([shared = shared_](const gst::FramePtr& frame) { shared->Offer(frame); });
}

void FrameAnalysis::Follow(const FrameTiming& timing) {
  std::lock_guard lock(shared_->mutex);
  shared_->timing = timing;
}

void FrameAnalysis::Stop(std::int64_t stoppedSteadyNs) {
  if (camera_) camera_->SetFrameObserver({});
  camera_.clear();
  std::lock_guard lock(shared_->mutex);
  shared_->stoppedNs = std::min(shared_->stoppedNs, stoppedSteadyNs);
}

FrameAnalysisResult FrameAnalysis::Finish(const QString& folder) {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->ending = true;
  }
  shared_->changed.notify_all();
  if (thread_.joinable()) thread_.join();
  Shared& s = *shared_;
  FrameAnalysisResult result = s.result;
  if (folder.isEmpty()) return result;  // a run without a folder of its own writes nothing
  const FrameAnalysisSetup& setup = s.setup;
  const QLocale locale;
  QStringList notes, lines;
  const QDir dir(folder);
  const auto write = [&](const QString& name, const std::optional<QByteArray>& bytes) {
    QString why = QStringLiteral("the picture could not be encoded");
    if (bytes && DurableFiles::WriteNow(dir.filePath(name), *bytes, &why)) {
      result.files << name;
      return true;
    }
    if (result.failure.isEmpty()) result.failure = dir.filePath(name) + QStringLiteral(": ") + why;
    return false;
  };

  if (s.bins) {
    const analysis::PhaseBins& bins = *s.bins;
    result.binFrames.emplace();
    std::vector<QImage> period;
    const int digits = bins.Count() > 100 ? 3 : 2;
    // No folder for bins that are all empty.
    const bool made = bins.EmptyBins() < bins.Count() && dir.mkpath(kBinsFolder);
    bool written = made;
    for (int bin = 0; bin < bins.Count(); ++bin) {
      result.binFrames->push_back(bins.Frames(bin));
      if (!made) continue;
      const std::vector<std::uint32_t> mean = bins.Mean(bin, setup.background.rgb() & 0xffffff);
      if (mean.empty()) {
        // The period keeps its pace: an empty bin is a blank picture that says it had no frame.
        QImage blank(bins.Width(), bins.Height(), QImage::Format_RGB32);
        blank.fill(setup.background);
        period.push_back(StampBinPicture(blank, bins.PhaseOf(bin), 0));
        continue;
      }
      const QImage picture = StampBinPicture(ToImage(mean, bins.Width(), bins.Height()),
                                             bins.PhaseOf(bin), bins.Frames(bin));
      written = write(kBinsFolder + QStringLiteral("/bin-%1.png").arg(bin, digits, 10, QChar('0')),
                      gdiplus::EncodePng(picture, 1)) &&
                written;
      period.push_back(picture);
    }
    if (!made && bins.EmptyBins() < bins.Count() && result.failure.isEmpty())
      result.failure = dir.filePath(kBinsFolder) + QStringLiteral(": the folder could not be made");
    result.emptyBins = bins.EmptyBins();
    if (result.emptyBins < bins.Count() && made) {
      const QString name = kBinsFolder + QStringLiteral("/period.avi");
      QString why;
      if (gst::WriteImageAvi(dir.filePath(name), period, setup.settings.binsFps, &why)) {
        result.files << name;
      } else {
        written = false;
        if (result.failure.isEmpty()) result.failure = why;  // it names the file
      }
    }
    result.binsWritten = written && result.emptyBins < bins.Count();
    if (result.emptyBins > 0) {
      const Cause why = WhyPhasesMissed(setup, bins.Count());
      QString russian = QString::fromUtf8("Фазовых интервалов без кадров: %1 из %2. %3")
                            .arg(result.emptyBins)
                            .arg(bins.Count())
                            .arg(why.russian);
      QString english = QStringLiteral("phase bins: %1 of %2 got no frame: %3")
                            .arg(result.emptyBins)
                            .arg(bins.Count())
                            .arg(why.english);
      if (why.phases > 0) {
        russian += QString::fromUtf8(
                       " Сдвиньте частоту тона на долю герца или возьмите не больше %1 "
                       "интервалов.")
                       .arg(why.phases);
        english += QStringLiteral("; move the tone by a fraction of a hertz or use at most %1 bins")
                       .arg(why.phases);
      }
      notes << russian;
      lines << english;
    }
  }

  if (setup.settings.lockIn) {
    result.distinctPhases = s.lockIn ? s.lockIn->DistinctPhases() : 0;
    const std::optional<analysis::LockInMaps> maps =
        s.lockIn ? s.lockIn->Result() : std::optional<analysis::LockInMaps>();
    if (!maps) {
      const auto [russian, english] = WhyNoMaps(setup, s.lockIn ? &*s.lockIn : nullptr);
      notes << QString::fromUtf8("Карты отклика не построены: ") + russian;
      lines << QStringLiteral("lock-in maps not made: ") + english;
    } else {
      const QString hz = locale.toString(setup.toneHz, 'g', 6);
      const QString frames = QString::number(maps->frames);
      bool written =
          write(QStringLiteral("amplitude.png"),
                gdiplus::EncodePng(
                    AmplitudeMapImage(
                        *maps, QString::fromUtf8("Амплитуда отклика на частоте тона %1 Гц, уровни "
                                                 "серого (кадров: %2)")
                                   .arg(hz, frames)),
                    6));
      written =
          write(QStringLiteral("phase-map.png"),
                gdiplus::EncodePng(
                    PhaseMapImage(*maps, QString::fromUtf8("Фаза тона %1 Гц, при которой пиксель "
                                                           "ярче всего (кадров: %2)")
                                             .arg(hz, frames)),
                    6)) &&
          written;
      const std::pair<const char*, const std::vector<float>*> arrays[] = {
          {"amplitude.npy", &maps->amplitude},
          {"phase.npy", &maps->phaseDeg},
          {"offset.npy", &maps->offset},
          {"amplitude-sigma.npy", &maps->amplitudeSigma},
          {"phase-sigma.npy", &maps->phaseSigmaDeg}};
      for (const auto& [name, values] : arrays) {
        QString why;
        if (WriteNpy(dir.filePath(QLatin1String(name)), *values, maps->width, maps->height, &why)) {
          result.files << QLatin1String(name);
        } else {
          written = false;
          if (result.failure.isEmpty()) result.failure = why;
        }
      }
      result.mapsWritten = written;
    }
  }
  // The tone's timeline reaches the analysis with the first picture: a large NC0 leaves the
  // frames before it out, which the operator can change.
  if (result.beforeFirstInstant > 0 &&
      4 * result.beforeFirstInstant >= result.frames + result.beforeFirstInstant) {
    notes << QString::fromUtf8(
                 "Кадров до первого снимка: %1 из %2, они не анализируются; "
                 "с меньшим NC0 анализ начнётся раньше.")
                 .arg(result.beforeFirstInstant)
                 .arg(result.frames + result.beforeFirstInstant);
    lines << QStringLiteral(
                 "%1 of %2 frames came before the first picture's instant and were "
                 "left out; a smaller NC0 starts the analysis sooner")
                 .arg(result.beforeFirstInstant)
                 .arg(result.frames + result.beforeFirstInstant);
  }
  if (!result.failure.isEmpty()) {
    qCWarning(lcRecording).noquote()
        << "the frames' analysis in" << folder << "was not all written:" << result.failure;
    notes << QString::fromUtf8("Анализ кадров записан не полностью: %1").arg(result.failure);
    lines << QStringLiteral("the frames' analysis was not all written: %1").arg(result.failure);
  }
  if (result.dropped > 0)
    lines << QStringLiteral("%1 frames came while the analysis was busy and were left out")
                 .arg(result.dropped);
  result.note = notes.join(QLatin1Char(' '));
  result.line = lines.join(QStringLiteral("; "));
  qCInfo(lcRecording).noquote() << "frames analysed:" << result.frames
                                << "left out while busy:" << result.dropped
                                << "before the first instant:" << result.beforeFirstInstant
                                << "outside the tone:" << result.outside << result.line;
  return result;
}

}  // namespace recording

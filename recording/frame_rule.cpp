#include "recording/frame_rule.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

#include "analysis/frame_choice.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/user_settings.h"
#include "recording/picture_writer.h"
#include "recording/run_log.h"

namespace recording {

namespace {

std::optional<FrameChoice> forced_choice;
std::optional<generator::StrobeSettings> forced_strobe;
const QString kChoiceKey = QStringLiteral("recording/frame-choice");
const QString kStrobeModeKey = QStringLiteral("recording/strobe-mode");
const QString kStrobeWidthKey = QStringLiteral("recording/strobe-width-ms");
const QString kStrobeLevelKey = QStringLiteral("recording/strobe-level");

bool Strobed(const RunFrameChoice& run) {
  return run.strobe.on && run.sampleRate > 0;
}

// Whether the run's pictures choose their frames by a rule: not in the Timer 1 mode, which has
// no phase to choose by, nor with the nearest frame and no strobe.
bool ByRule(const RunFrameChoice& run, const FrameTiming& timing) {
  return !timing.timer && run.intervalMs > 0 &&
         (Strobed(run) || run.choice != FrameChoice::Nearest);
}

// The exposure a frame is judged by: the camera's when known, else a whole frame interval (a
// camera in automatic exposure in a dark room exposes about that long).
double ExposureMsOf(const FrameTiming& timing, std::int64_t frameIntervalNs) {
  if (timing.exposureMs && *timing.exposureMs > 0) return *timing.exposureMs;
  return static_cast<double>(frameIntervalNs) / 1e6;
}

std::int64_t LeadNs(const FrameTiming& timing, double exposureMs) {
  return std::llround((timing.cameraDelayMs.value_or(0) + exposureMs / 2) * 1e6);
}

// The stream's sample playing at a steady-clock moment: counted on the device's clock, as the
// pulses are placed (an underrun moves the stream's samples against T0); a tone without a
// clock is placed from T0.
double SampleOf(const RunFrameChoice& run, const FrameTiming& timing, std::int64_t steadyNs) {
  const std::int64_t local = steadyNs + timing.steadyToLocalNs;
  if (const std::optional<double> sample = timing.tone.SampleAt(local)) return *sample;
  return timing.tone.MsSinceT0(local) * run.sampleRate / 1000;
}

// The middle of the pulse an exposure centred on `middleSteadyNs` holds whole, in samples of
// the stream; none when it holds none, or when either edge of the exposure cuts a pulse (its
// part would light the scene at its own phase, off the whole one's).
std::optional<double> PulseIn(const RunFrameChoice& run, const FrameTiming& timing,
                              std::int64_t middleSteadyNs, double exposureMs) {
  if (!Strobed(run)) return std::nullopt;
  const double sample = SampleOf(run, timing, middleSteadyNs);
  const double half = exposureMs * run.sampleRate / 2000;
  const double halfPulse = static_cast<double>(run.strobe.widthSamples) / 2;
  const std::optional<double> centre = generator::PulseCentreNear(run.strobe, sample);
  if (!centre || std::abs(sample - *centre) + halfPulse > half) return std::nullopt;
  for (const double edge : {sample - half, sample + half}) {
    const std::optional<double> cut = generator::PulseCentreNear(run.strobe, edge);
    if (cut && std::abs(edge - *cut) < halfPulse) return std::nullopt;
  }
  return centre;
}

}  // namespace

// "фаза", "фазы" or "фаз" after a count.
QString RussianPhases(int count) {
  const int tens = count % 100;
  const int units = count % 10;
  if (units == 1 && tens != 11) return QString::fromUtf8("фаза");
  if (units >= 2 && units <= 4 && (tens < 12 || tens > 14)) return QString::fromUtf8("фазы");
  return QString::fromUtf8("фаз");
}

QString FrameChoiceName(FrameChoice choice) {
  return choice == FrameChoice::Phase ? QStringLiteral("phase") : QStringLiteral("nearest");
}

std::optional<FrameChoice> ParseFrameChoice(const QString& text) {
  for (const FrameChoice choice : {FrameChoice::Nearest, FrameChoice::Phase})
    if (text == FrameChoiceName(choice)) return choice;
  return std::nullopt;
}

QString StrobeModeName(generator::StrobeMode mode) {
  switch (mode) {
    case generator::StrobeMode::EveryPeriod:
      return QStringLiteral("period");
    case generator::StrobeMode::Instants:
      return QStringLiteral("instants");
    case generator::StrobeMode::Off:
      break;
  }
  return QStringLiteral("off");
}

std::optional<generator::StrobeMode> ParseStrobeMode(const QString& text) {
  for (const generator::StrobeMode mode :
       {generator::StrobeMode::Off, generator::StrobeMode::EveryPeriod,
        generator::StrobeMode::Instants})
    if (text == StrobeModeName(mode)) return mode;
  return std::nullopt;
}

FrameChoice FrameChoiceChosen() {
  if (forced_choice) return *forced_choice;
  return ParseFrameChoice(gst::UserSettings().value(kChoiceKey).toString())
      .value_or(FrameChoice::Nearest);
}

void ChooseFrameChoice(FrameChoice choice) {
  gst::UserSettings().setValue(kChoiceKey, FrameChoiceName(choice));
}

void ForceFrameChoice(std::optional<FrameChoice> choice) {
  forced_choice = choice;
}

generator::StrobeSettings StrobeChosen() {
  if (forced_strobe) return *forced_strobe;
  const QSettings settings = gst::UserSettings();
  generator::StrobeSettings strobe;
  strobe.mode = ParseStrobeMode(settings.value(kStrobeModeKey).toString())
                    .value_or(generator::StrobeMode::Off);
  // A stored value that is no number, or out of range, gives the default.
  bool ok = false;
  const double width = settings.value(kStrobeWidthKey).toDouble(&ok);
  if (ok && width > 0 && width <= 1000) strobe.widthMs = width;
  const double level = settings.value(kStrobeLevelKey).toDouble(&ok);
  if (ok && level >= 0 && level <= 1) strobe.level = level;
  return strobe;
}

void ChooseStrobe(const generator::StrobeSettings& strobe) {
  QSettings settings = gst::UserSettings();
  settings.setValue(kStrobeModeKey, StrobeModeName(strobe.mode));
  settings.setValue(kStrobeWidthKey, strobe.widthMs);
  settings.setValue(kStrobeLevelKey, strobe.level);
}

void ForceStrobe(const generator::StrobeSettings& strobe) {
  forced_strobe = strobe;
}

RunFrameChoice RunFrameChoiceOf(const generator::RunStart& start, FrameChoice choice) {
  RunFrameChoice run;
  run.choice = choice;
  run.strobeMode = start.strobe.on ? start.settings.strobe.mode : generator::StrobeMode::Off;
  run.strobe = start.strobe;
  run.sampleRate = start.settings.sampleRate;
  if (!start.settings.timerMode && start.settings.numerator > 0)
    run.intervalMs = start.settings.every / start.settings.numerator * 1000;
  return run;
}

std::shared_ptr<gst::FrameRequest> RequestPictureFrame(gst::CameraPipeline& camera,
                                                       const RunFrameChoice& run,
                                                       const FrameTiming& timing, double idealPhase,
                                                       std::int64_t dueSteadyNs,
                                                       std::int64_t frameIntervalNs) {
  const auto intervalNs = static_cast<std::int64_t>(run.intervalMs * 1e6);
  if (!ByRule(run, timing) || intervalNs <= 0) return camera.RequestFrame(dueSteadyNs);
  gst::FrameRule rule;
  if (Strobed(run)) {
    const double exposureMs = ExposureMsOf(timing, frameIntervalNs);
    const auto pulseNs = static_cast<std::int64_t>(static_cast<double>(run.strobe.widthSamples) *
                                                   1e9 / run.sampleRate);
    const auto halfExposureNs = static_cast<std::int64_t>(exposureMs * 5e5);
    rule.exposureLeadNs = LeadNs(timing, exposureMs);
    // Every period's pulse lights the same phase, so any frame up to the next instant will do,
    // from one whose exposure holds the pulse at the instant. The instants' pulse is this
    // instant's alone: the frames around it, the pulse placed on the stream's samples (it may
    // play a device latency away from the due moment on the tick count).
    std::optional<double> own;
    if (run.strobeMode == generator::StrobeMode::Instants) {
      own = generator::PulseCentreNear(run.strobe, SampleOf(run, timing, dueSteadyNs));
      rule.windowStartNs = dueSteadyNs - intervalNs / 2;
      rule.windowEndNs = dueSteadyNs + intervalNs / 2;
    } else {
      rule.windowStartNs = dueSteadyNs - halfExposureNs - pulseNs;
      rule.windowEndNs = dueSteadyNs + intervalNs;
    }
    rule.cost = [run, timing, exposureMs, own](std::int64_t middle) -> std::optional<double> {
      const std::optional<double> centre = PulseIn(run, timing, middle, exposureMs);
      if (!centre || (own && std::abs(*centre - *own) > 0.5)) return std::nullopt;
      return 0.0;
    };
    rule.firstWins = true;
  } else {
    rule.exposureLeadNs = LeadNs(timing, timing.exposureMs.value_or(0));
    rule.windowStartNs = dueSteadyNs;
    rule.windowEndNs = dueSteadyNs + intervalNs;
    rule.cost = [timing, idealPhase](std::int64_t middle) -> std::optional<double> {
      const std::optional<double> phase = timing.tone.PhaseAt(middle + timing.steadyToLocalNs);
      if (!phase) return std::nullopt;
      return std::abs(PhaseError(*phase, idealPhase));
    };
  }
  return camera.RequestFrame(dueSteadyNs, std::move(rule));
}

std::int64_t ChoiceEndNs(const RunFrameChoice& run, const FrameTiming& timing,
                         std::int64_t dueSteadyNs) {
  if (!ByRule(run, timing)) return dueSteadyNs;
  // The choice ends when a frame exposed after the window arrives: the window, the camera's
  // delay and a whole exposure (at most the window again) later.
  const auto intervalNs = static_cast<std::int64_t>(run.intervalMs * 1e6);
  return dueSteadyNs + 2 * intervalNs +
         std::llround(timing.cameraDelayMs.value_or(0) * 1e6 + timing.exposureMs.value_or(0) * 1e6);
}

void NoteChoice(const RunFrameChoice& run, const gst::FrameRequest& request,
                const gst::CameraFrame& frame, const FrameTiming& timing,
                std::int64_t frameIntervalNs, PictureLogRow& row) {
  row.strobe = StrobeModeName(run.strobeMode);
  row.frameRule = !request.ChosenByRule() ? QStringLiteral("nearest")
                  : Strobed(run)          ? QStringLiteral("strobe")
                                          : QStringLiteral("phase");
  if (Strobed(run) && !timing.timer) {
    const double exposureMs = ExposureMsOf(timing, frameIntervalNs);
    const std::int64_t middle = frame.CaptureNs() - LeadNs(timing, exposureMs);
    const std::optional<double> centre = PulseIn(run, timing, middle, exposureMs);
    row.strobeLit = centre.has_value();
    if (centre) row.pulsePhase = timing.tone.IdealPhase(*centre * 1000 / run.sampleRate);
  }
  // The phase the rule chose by: the pulse's for a lit picture, else the exposure's (the
  // camera's delay counted as 0 without a calibration).
  const std::optional<double> phase =
      row.strobeLit.value_or(false) ? row.pulsePhase : row.exposurePhase;
  if (phase && row.idealPhase) row.phaseErrorDeg = PhaseError(*phase, *row.idealPhase);
}

FrameForecastText FrameChoiceForecast(double frameRate, double toneHz, double intervalS,
                                      double exposureMs, std::span<const double> offeredRates) {
  if (!(frameRate > 0) || !(toneHz > 0) || !(intervalS > 0)) return {};
  const analysis::PhaseForecast forecast =
      analysis::ForecastPhaseErrors(frameRate, toneHz, intervalS, exposureMs);
  if (!std::isfinite(forecast.phaseWorstDeg)) return {};
  const std::optional<analysis::Suggestion> better =
      analysis::SuggestBetter(frameRate, toneHz, intervalS, offeredRates);
  const bool otherRate = better && better->frameRate != frameRate;
  // The status line in the operator's locale, the script's line with '.' decimals; `phases`
  // takes the count, the word for it and the spacing.
  const int count = forecast.distinctPhases;
  const auto text = [&](const QLocale& locale, const char* head, const char* phases,
                        const QString& phaseWord, const char* rate, const char* interval) {
    const auto deg = [&locale](double value) {
      return locale.toString(value, 'f', 1) + QString::fromUtf8("°");
    };
    QString said =
        QString::fromUtf8(head).arg(deg(forecast.phaseMedianDeg), deg(forecast.phaseWorstDeg),
                                    deg(forecast.nearestMedianDeg), deg(forecast.nearestWorstDeg));
    if (count > 0)
      said += QString::fromUtf8(phases).arg(count).arg(phaseWord, deg(forecast.phaseSpacingDeg));
    if (better)
      said += QString::fromUtf8(otherRate ? rate : interval)
                  .arg(locale.toString(otherRate ? better->frameRate : better->pictureIntervalS,
                                       'g', 6),
                       deg(better->forecast.phaseWorstDeg));
    return said;
  };
  return {.status = text(QLocale(),
                         " Кадр по фазе: ошибка фазы около %1, до %2 (ближайший по времени: %3, "
                         "до %4)",
                         "; кадры дают %1 %2 с шагом %3", RussianPhases(count),
                         "; лучше %1 кадр/с (до %2)", "; лучше снимок каждые %1 с (до %2)"),
          .line = text(QLocale::c(),
                       "frame by phase: phase error about %1, at most %2 (nearest frame: %3, at "
                       "most %4)",
                       "; the frames take %1 %2 %3 apart",
                       count == 1 ? QStringLiteral("phase") : QStringLiteral("phases"),
                       "; better: %1 frames/s (at most %2)",
                       "; better: a picture every %1 s (at most %2)")};
}

FrameForecastText StrobeForecast(double frameRate, double exposureMs, bool delayKnown) {
  FrameForecastText said;
  const QLocale locale;
  const double frameMs = frameRate > 0 ? 1000 / frameRate : 0;
  // A little shorter is the camera's readout, not a gap worth a word.
  if (frameMs > 0 && exposureMs > 0 && exposureMs < 0.9 * frameMs) {
    said.status = QString::fromUtf8(
                      " Стробоскоп: экспозиция %1 мс короче кадра (%2 мс): вспышка "
                      "может не попасть ни в один кадр снимка; лучше экспозиция в "
                      "целый кадр")
                      .arg(locale.toString(exposureMs, 'f', 1), locale.toString(frameMs, 'f', 1));
    said.line = QStringLiteral(
                    "strobe: the exposure of %1 ms is shorter than the frame interval "
                    "of %2 ms: a pulse may fall between the exposures and a picture "
                    "hold none; an exposure of a whole frame catches every pulse")
                    .arg(exposureMs, 0, 'f', 1)
                    .arg(frameMs, 0, 'f', 1);
  }
  if (!delayKnown) {
    said.status +=
        (said.status.isEmpty() ? QString::fromUtf8(" Стробоскоп: ") : QStringLiteral("; ")) +
        QString::fromUtf8(
            "задержка камеры не измерена, освещённый кадр определяется "
            "неточно");
    said.line += QStringLiteral(
                     "%1strobe: the camera's delay is not calibrated: which frame a "
                     "pulse lit is judged from the frames' arrival")
                     .arg(said.line.isEmpty() ? QString() : QStringLiteral("; "));
  }
  return said;
}

}  // namespace recording

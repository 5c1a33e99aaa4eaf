// The strobe and the frame chosen by phase on the built-in camera, whose scene is the truth:
// every picture's hand, read back from the saved file, against the phase its row states.
//   Usage: bench_strobe [run seconds] [phase]   (default 8; "phase": the frame by phase only)
// Strobe: a pulse every tone period at 5 Hz and 50 Hz, camera delays 0-150 ms, exposures
// 5-33 ms at 30 frames a second; target: every lit picture's hand within 1 deg of its pulse's
// phase. Frame by phase: the forecast for 29.97 frames a second against 5 Hz, NC0 = 20 (target
// median <= 2 deg, worst <= 5 deg), and a run at 30 frames a second against 7 Hz, where the
// frames of a window take every phase 12 deg apart, both rules against the truth.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <vector>

#include "analysis/frame_choice.h"
#include "app/main_window.h"
#include "bench/bench_support.h"
#include "bench/scene_bench.h"
#include "platform/gst/camera_delay.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/test_scene.h"
#include "recording/frame_rule.h"
#include "recording/run_log.h"
#include "tests/support/scene_reader.h"
#include "tests/support/test_support.h"

namespace {

struct Result {
  int pictures = 0;
  int lit = 0;             // strobed: pictures whose row says a pulse lit them
  int bright = 0;          // strobed: pictures whose lamp shows a pulse's light (the truth)
  int misjudged = 0;       // strobed: pictures whose row and lamp disagree
  double worstStated = 0;  // largest |hand - the row's phase| (the pulse's, or the exposure's)
  double medianIdeal = 0;  // |hand - ideal phase| over the pictures
  double worstIdeal = 0;
  int nearest = 0;  // chosen by phase, but no frame of the window (cut by the stop): the nearest
};

double Median(std::vector<double> values) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A window with the capture window's camera on, filming the scene with these settings, its
// delay stored as the scene's own (what a calibration finds to within a fraction of a ms).
class Bench {
 public:
  explicit Bench(const gst::SceneSettings& scene) {
    bench::SwitchOnSceneCamera(form_, scene);
    gst::StoreDelay(
        gst::SetupOf(form_.Camera().RecordingCamera()),
        {.delayMs = scene.delayMs, .uncertaintyMs = 0.1, .exposureMs = 0, .measured = {}});
  }
  ~Bench() { form_.Camera().Command13_Click(); }
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  // A clock run at N/2 Hz, a picture every NC0 clock periods.
  Result Run(const generator::StrobeSettings& strobe, int numerator, int nc0, int seconds,
             recording::FrameChoice choice = recording::FrameChoice::Nearest) {
    choice_ = choice;
    recording::ForceFrameChoice(choice);
    form_.Generator().SetStrobe(strobe);  // the next start plays it
    return Read(bench::RunClock(form_, numerator, nc0, seconds));
  }

 private:
  Result Read(const QString& folder) {
    const gst::CameraPipeline& camera = form_.Camera().RecordingCamera();
    const QSize frame(camera.Format().width, camera.Format().height);
    const QTransform place = testing_support::FrameToPicture(
        frame, form_.PictureWindow().Picture2->contentsRect().size(),
        testing_support::PictureFit::Crop);
    const gst::SceneLayout layout = gst::SceneLayoutFor(frame);
    const QRectF lamp = testing_support::LayoutInPicture(layout, place).lamp;
    Result result;
    QFile log(QDir(folder).filePath(recording::RunLog::kFileName));
    if (!log.open(QIODevice::ReadOnly)) return result;
    QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    const QStringList columns = testing_support::SplitCsvLine(lines.takeFirst());
    const auto cell = [&columns](const QStringList& cells, const char* name) {
      return cells.value(columns.indexOf(QLatin1String(name)));
    };
    std::vector<double> ideal;
    for (const QString& line : lines) {
      const QStringList cells = testing_support::SplitCsvLine(line);
      const QImage picture(QDir(folder).filePath(cell(cells, "file")));
      if (picture.isNull()) continue;
      ++result.pictures;
      const bool strobed = cell(cells, "strobe") != QLatin1String("off");
      if (strobed) {
        // A pulse's light is full brightness; the ambient light alone is 2 %.
        const bool shows = testing_support::ReadLampBrightness(picture, lamp) > 0.5;
        const bool said = cell(cells, "strobe_lit") == QLatin1String("1");
        result.bright += shows ? 1 : 0;
        result.misjudged += shows != said ? 1 : 0;
        if (!said) continue;
      } else if (choice_ == recording::FrameChoice::Phase &&
                 cell(cells, "frame_rule") != QLatin1String("phase")) {
        ++result.nearest;
        continue;
      }
      result.lit += strobed ? 1 : 0;
      const double hand =
          testing_support::ReadHandAngle(picture, place, layout.dialCentre, layout.dialRadius);
      const QString stated =
          strobed ? cell(cells, "pulse_phase_deg") : cell(cells, "exposure_phase_deg");
      result.worstStated =
          std::max(result.worstStated,
                   std::abs(testing_support::AngleDifference(hand, QLocale::c().toDouble(stated))));
      ideal.push_back(std::abs(testing_support::AngleDifference(
          hand, QLocale::c().toDouble(cell(cells, "ideal_phase_deg")))));
    }
    result.medianIdeal = Median(ideal);
    result.worstIdeal = ideal.empty() ? NAN : *std::max_element(ideal.begin(), ideal.end());
    return result;
  }

  app::Form1 form_;
  recording::FrameChoice choice_ = recording::FrameChoice::Nearest;
};

}  // namespace

static int Measure(int argc, char* argv[]);

int main(int argc, char* argv[]) {
  bench::UseOffscreenWithoutDisplay();
  QApplication application(argc, argv);
  // A failure says what it was rather than ending the program without a word.
  try {
    return Measure(argc, argv);
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "bench_strobe: %s\n", error.what());
    return 1;
  }
}

static int Measure(int argc, char* argv[]) {
  const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 8;
  const bool phaseOnly = argc > 2 && std::strcmp(argv[2], "phase") == 0;
  const bench::SceneBenchFolders folders;

  std::printf(
      "Strobe, a 1 ms pulse every tone period, 30 frames/s, %d s runs, a picture every 0.4 s:\n"
      "pictures the row says a pulse lit, those whose lamp shows it, those the two disagree on,\n"
      "and the largest |hand - pulse_phase_deg| over the lit ones; target <= 1 deg\n"
      "  tone  exposure  delay   pictures  lit  shown  disagree  largest |error|\n",
      seconds);
  double worst = 0;
  for (const auto& [numerator, nc0, hz] :
       phaseOnly ? std::vector<std::tuple<int, int, int>>{}
                 : std::vector<std::tuple<int, int, int>>{std::tuple{10, 4, 5},
                                                          std::tuple{100, 40, 50}}) {
    for (const double exposure : {5.0, 15.0, 33.0}) {
      for (const double delay : {0.0, 50.0, 150.0}) {
        Bench bench({.exposureMs = exposure, .delayMs = delay, .jitterMs = 0, .rates = {30}});
        const Result r =
            bench.Run({generator::StrobeMode::EveryPeriod, 1, 1}, numerator, nc0, seconds);
        if (r.lit > 0) worst = std::max(worst, r.worstStated);
        std::printf("  %2d Hz  %5.0f ms  %4.0f ms  %6d  %5d  %5d  %6d  %10.2f deg\n", hz, exposure,
                    delay, r.pictures, r.lit, r.bright, r.misjudged,
                    r.lit > 0 ? r.worstStated : NAN);
        std::fflush(stdout);
      }
    }
  }
  std::printf("  largest over all lit pictures: %.2f deg (target 1)\n\n", worst);

  std::printf(
      "Frame by phase, forecast (the choice simulated over camera start offsets):\n"
      "  camera      tone  interval   nearest median/worst   by phase median/worst   target\n");
  for (const double interval : {2.0, 4.0}) {
    const analysis::PhaseForecast f = analysis::ForecastPhaseErrors(29.97, 5, interval, 10);
    std::printf(
        "  29.97 fps   5 Hz  %4.1f s     %5.1f / %5.1f deg       %5.1f / %5.1f deg       "
        "<= 2 / 5 deg\n",
        interval, f.nearestMedianDeg, f.nearestWorstDeg, f.phaseMedianDeg, f.phaseWorstDeg);
  }
  std::printf(
      "\nFrame by phase on the scene, 30 frames/s against 7 Hz, delay 40 ms (stored), "
      "exposure 10 ms,\n%d s runs, a picture every 2 s; |hand - ideal phase|:\n",
      2 * seconds);
  for (const recording::FrameChoice choice :
       {recording::FrameChoice::Nearest, recording::FrameChoice::Phase}) {
    Bench bench({.exposureMs = 10, .delayMs = 40, .jitterMs = 0, .rates = {30}});
    const Result r = bench.Run({}, 14, 28, 2 * seconds, choice);
    std::printf(
        "  %-8s %3d pictures  median %5.1f deg  worst %5.1f deg  (hand against the row's "
        "exposure phase: %.2f deg at most; %d cut by the stop took the nearest)\n",
        qPrintable(recording::FrameChoiceName(choice)), r.pictures, r.medianIdeal, r.worstIdeal,
        r.worstStated, r.nearest);
    std::fflush(stdout);
  }
  return 0;
}

// Phase error of the periodic pictures on the virtual devices: a sound device running 1.0005
// times as fast as the system clock (as a sound card's crystal may), the YUY2 test camera at
// 30 fps, a 5 Hz tone (10/2) and NC0 = 5. The same run is made counted on the tone's clock and
// on the tick count; from each run's log.csv the error against the phase the settings imply
// (median, p99, max of its size, in degrees and in ms of tone), at the due instant and at
// the chosen frame's capture, and the spread of the frame age.
//   Usage: bench_phase [seconds per run] [device rate]   (default 60 s, 1.0005)

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/main_window.h"
#include "bench/bench_support.h"
#include "platform/forms/message_box.h"
#include "platform/gst/virtual_devices.h"
#include "recording/output_files.h"

namespace {

constexpr double kToneHz = 5;
constexpr double kTonePeriodMs = 1000 / kToneHz;

// The log's numeric columns of one picture.
struct Row {
  double instantPhase, framePhase, idealPhase, frameAge;
};

std::vector<Row> ReadLog(const QString& path) {
  std::vector<Row> rows;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return rows;
  QStringList columns;
  for (const QByteArray& raw : file.readAll().split('\n')) {
    const QString line = QString::fromUtf8(raw);
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    const QStringList cells = line.split(QLatin1Char(','));
    if (columns.isEmpty()) {
      columns = cells;
      continue;
    }
    auto number = [&](const char* name) {
      const int at = columns.indexOf(QString::fromLatin1(name));
      return at >= 0 && at < cells.size() ? QLocale::c().toDouble(cells[at]) : NAN;
    };
    rows.push_back({number("instant_phase_deg"), number("frame_phase_deg"),
                    number("ideal_phase_deg"), number("frame_age_ms")});
  }
  return rows;
}

// Errors in degrees, unwrapped along the run so that a drift past half a period shows whole.
std::vector<double> Unwrapped(const std::vector<Row>& rows, double Row::*phase) {
  std::vector<double> errors;
  double previous = 0;
  for (const Row& row : rows) {
    double e = std::remainder(row.*phase - row.idealPhase, 360.0);
    if (!errors.empty()) e = previous + std::remainder(e - previous, 360.0);
    errors.push_back(e);
    previous = e;
  }
  return errors;
}

void Report(const char* what, std::vector<double> errors) {
  if (errors.empty()) return;
  for (double& e : errors) e = std::abs(e);
  const double median = bench::Percentile(errors, 0.5), p99 = bench::Percentile(errors, 0.99),
               max = bench::Percentile(errors, 1);
  std::printf(
      "    %-22s |error| median %7.2f deg %7.3f ms   p99 %7.2f deg %7.3f ms   max %7.2f "
      "deg %7.3f ms\n",
      what, median, median / 360 * kTonePeriodMs, p99, p99 / 360 * kTonePeriodMs, max,
      max / 360 * kTonePeriodMs);
}

void Run(const char* name, generator::TimeBase base, int seconds) {
  app::Form1 form;
  form.Generator().SetPreferredTimeBase(base);
  form.Camera().Command11_Click();  // capture window, YUY2 640 x 480 at 30 fps
  const int row = form.Combo1->findText(QStringLiteral("bench"));
  form.Combo1->setCurrentIndex(row);
  form.Generator().Combo1_Click(row);
  form.Option5->setChecked(true);
  form.Check2->setChecked(true);
  form.Text4->setText(QStringLiteral("10"));
  form.Text27->setText(QStringLiteral("2"));
  form.Text7->setText(QStringLiteral("5"));
  QTimer::singleShot(seconds * 1000, form.Command4, &QPushButton::click);
  form.Generator().Command20_Click();  // returns when the run has been stopped
  const std::vector<Row> rows =
      ReadLog(form.Recorder().Names().PictureFolder + QStringLiteral("/log.csv"));
  std::printf("  %s: %zu pictures\n", name, rows.size());
  const std::vector<double> instant = Unwrapped(rows, &Row::instantPhase);
  Report("at the due instant", instant);
  // The offset T0 leaves is constant; what grows along the run is the drift.
  if (instant.size() > 1)
    std::printf("    drift, first to last picture: %+.3f ms of tone\n",
                (instant.back() - instant.front()) / 360 * kTonePeriodMs);
  Report("at the frame", Unwrapped(rows, &Row::framePhase));
  std::vector<double> ages;
  ages.reserve(rows.size());
  for (const Row& row : rows) ages.push_back(row.frameAge);
  if (!ages.empty())
    std::printf("    frame age: min %.2f ms  median %.2f ms  max %.2f ms (spread %.2f ms)\n",
                bench::Percentile(ages, 0), bench::Percentile(ages, 0.5),
                bench::Percentile(ages, 1),
                bench::Percentile(ages, 1) - bench::Percentile(ages, 0));
  form.Camera().Command13_Click();
}

}  // namespace

int main(int argc, char* argv[]) {
  bench::UseOffscreenWithoutDisplay();
  QApplication application(argc, argv);
  const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 60;
  const double rate = argc > 2 ? std::atof(argv[2]) : 1.0005;
  QTemporaryDir program;
  for (const char* folder : {"Risunki", "SnapShot", "Video"})
    QDir(program.path()).mkdir(QString::fromLatin1(folder));
  recording::SetProgramFolder(program.path());
  gst::RegisterVirtualCameras();
  gst::RegisterVirtualSoundDevice(QStringLiteral("bench"),
                                  program.filePath(QStringLiteral("tone.wav")), rate);
  forms::SetMessageBoxFunction([](const QString& text, const QString&) {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  });
  std::printf(
      "Phase of the pictures: %d s a run, device rate %.6f, tone 5 Hz, a picture every "
      "0.5 s; target p99 < 1 ms of tone plus the frame-age spread\n",
      seconds, rate);
  Run("counted on the tone's clock", generator::TimeBase::Tone, seconds);
  Run("counted on the tick count", generator::TimeBase::TickCount, seconds);
  recording::SetProgramFolder(QString());
  gst::ClearVirtualCameras();
  gst::ClearVirtualSoundDevices();
  return 0;
}

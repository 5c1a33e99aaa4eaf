// The run folder's log.csv and phase.png: the rows as written, the plot and its fixed-size
// data, and whole runs on the virtual devices in real time.

#include <malloc.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/gst/virtual_devices.h"
#include "recording/frame_rule.h"
#include "recording/picture_writer.h"
#include "recording/run_log.h"
#include "tests/support/camera_support.h"
#include "tests/support/camera_switch.h"
#include "tests/support/recording_fixture.h"

namespace {

using recording::PictureLogRow;
using recording::RunLog;
using testing_support::ScopedLocale;
using testing_support::VirtualCameras;
using testing_support::WaitFor;

struct Csv {
  QStringList columns;
  std::vector<std::map<QString, QString>> rows;
};

Csv ReadCsv(const QString& path) {
  Csv csv;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return csv;
  const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
  for (const QString& line : lines) {
    if (line.isEmpty()) continue;
    // The first line is the header, as a CSV reader takes it.
    if (csv.columns.isEmpty()) {
      csv.columns = testing_support::SplitCsvLine(line);
    } else {
      const QStringList cells = testing_support::SplitCsvLine(line);
      std::map<QString, QString> row;
      for (int i = 0; i < csv.columns.size() && i < cells.size(); ++i)
        row[csv.columns[i]] = cells[i];
      EXPECT_EQ(cells.size(), csv.columns.size()) << line.toStdString();
      csv.rows.push_back(std::move(row));
    }
  }
  return csv;
}

// A number as a CSV reader takes it: C locale, whatever the session's.
double Parse(const QString& text, bool* ok) {
  return QLocale::c().toDouble(text, ok);
}

const QStringList kColumns{"picture",
                           "file",
                           "due_ms",
                           "actual_ms",
                           "frame_number",
                           "frame_capture_ms",
                           "frame_age_ms",
                           "frame_phase_deg",
                           "instant_phase_deg",
                           "ideal_phase_deg",
                           "time_base",
                           "save_ms",
                           "error",
                           "exposure_mid_ms",
                           "exposure_phase_deg",
                           "exposure_time_ms",
                           "camera_delay_ms",
                           "camera_delay_source",
                           "frame_file",
                           "frame_rule",
                           "phase_error_deg",
                           "strobe",
                           "strobe_lit",
                           "pulse_phase_deg"};

TEST(RunLogLocale, RowsUseTheDecimalPointAndQuoteTextInEveryLocale) {
  QTemporaryDir dir;
  for (const char* locale : {"C", "en_US", "ru_RU"}) {
    SCOPED_TRACE(locale);
    ScopedLocale scoped{QLocale(QString::fromLatin1(locale))};
    const QString folder = dir.filePath(QString::fromLatin1(locale));
    ASSERT_TRUE(QDir().mkpath(folder));
    RunLog log;
    log.Begin(folder);
    PictureLogRow row;
    row.picture = 1234;
    row.file = QStringLiteral("1234.jpg");
    row.dueMs = 617000.5;
    row.actualMs = 617001.25;
    row.frameNumber = 18511;
    row.frameCaptureMs = 616990.125;
    row.frameAgeMs = 10.375;
    row.framePhase = 341.5;
    row.instantPhase = 359.9997;  // a hair below a full turn
    row.idealPhase = 0;
    row.timeBase = QStringLiteral("tone");
    row.saveMs = 1.5;
    row.exposureMidMs = 616945.0625;
    row.exposurePhase = 323.25;
    row.exposureTimeMs = 10;
    row.cameraDelayMs = 40.5;
    row.cameraDelaySource = QStringLiteral("calibrated");
    row.frameRule = QStringLiteral("strobe");
    row.phaseErrorDeg = -0.0625;
    row.strobe = QStringLiteral("period");
    row.strobeLit = true;
    row.pulsePhase = 359.9999;
    ASSERT_TRUE(log.Append(row));
    PictureLogRow failed;
    failed.picture = 1235;
    failed.timeBase = QStringLiteral("tick");
    failed.error = QStringLiteral("Path/File access error, \"1235.jpg\"");
    ASSERT_TRUE(log.Append(failed));

    const Csv csv = ReadCsv(QDir(folder).filePath(RunLog::kFileName));
    EXPECT_EQ(csv.columns, kColumns);
    ASSERT_EQ(csv.rows.size(), 2u);
    std::map<QString, QString> first = csv.rows[0];
    EXPECT_EQ(first["due_ms"], QStringLiteral("617000.500"));
    EXPECT_EQ(first["frame_age_ms"], QStringLiteral("10.375"));
    EXPECT_EQ(first["picture"], QStringLiteral("1234"));  // no digit groups
    EXPECT_EQ(first["frame_number"], QStringLiteral("18511"));
    EXPECT_EQ(first["frame_phase_deg"], QStringLiteral("341.500"));
    EXPECT_EQ(first["instant_phase_deg"], QStringLiteral("0.000"));  // not "360.000"
    EXPECT_EQ(first["exposure_mid_ms"], QStringLiteral("616945.063"));
    EXPECT_EQ(first["exposure_phase_deg"], QStringLiteral("323.250"));
    EXPECT_EQ(first["camera_delay_ms"], QStringLiteral("40.500"));
    EXPECT_EQ(first["camera_delay_source"], QStringLiteral("calibrated"));
    EXPECT_EQ(first["phase_error_deg"], QStringLiteral("-0.063"));
    EXPECT_EQ(first["strobe_lit"], QStringLiteral("1"));
    EXPECT_EQ(first["pulse_phase_deg"], QStringLiteral("0.000"));
    std::map<QString, QString> second = csv.rows[1];
    EXPECT_EQ(second["error"], failed.error);
    EXPECT_EQ(second["due_ms"], QString());  // unknown stays empty, never 0
    EXPECT_EQ(second["frame_phase_deg"], QString());
    EXPECT_EQ(second["exposure_time_ms"], QString());
    EXPECT_EQ(second["strobe_lit"], QString());
  }
}

// The frame's timestamp is its arrival: the picture's phase is the exposure's middle, the
// camera's delay and half the exposure before it, when the delay is known.
TEST(RunLogPhase, TheExposurePhaseIsThePicturesPhaseOnlyWithACalibratedDelay) {
  generator::ToneTimeline tone;
  tone.base = generator::TimeBase::Tone;
  tone.toneAnswered = true;
  tone.reading = {.clockNs = 0, .localNs = 0, .firstSampleNs = 0, .sampleRate = 48000};
  tone.freqNumerator = 10;  // 5 Hz: 1.8° a millisecond
  tone.freqDenominator = 2;
  recording::FrameTiming timing;
  timing.tone = tone;
  timing.dueLocalNs = 1'000'000'000;
  const gst::FramePtr frame =
      testing_support::SyntheticFrame(QImage(8, 8, QImage::Format_RGB32), 7, 1'050'000'000);

  PictureLogRow unknown;
  recording::NoteFrame(*frame, timing, unknown);
  ASSERT_TRUE(unknown.framePhase && unknown.exposurePhase && unknown.exposureMidMs);
  EXPECT_NEAR(*unknown.framePhase, 90, 1e-6);  // 1050 ms: a quarter period past 1000
  EXPECT_NEAR(*unknown.exposurePhase, 90, 1e-6);
  EXPECT_EQ(unknown.cameraDelaySource, QStringLiteral("none"));
  EXPECT_FALSE(unknown.cameraDelayMs || unknown.exposureTimeMs);
  EXPECT_EQ(recording::PicturePhase(unknown), unknown.framePhase);

  timing.cameraDelayMs = 40;
  timing.exposureMs = 10;
  PictureLogRow known;
  recording::NoteFrame(*frame, timing, known);
  ASSERT_TRUE(known.exposureMidMs && known.exposurePhase);
  EXPECT_NEAR(*known.exposureMidMs, 1005, 1e-6);  // 1050 - 40 - 5
  EXPECT_NEAR(*known.exposurePhase, 9, 1e-6);
  EXPECT_NEAR(*known.framePhase, 90, 1e-6);  // the capture's phase keeps its meaning
  EXPECT_EQ(known.cameraDelaySource, QStringLiteral("calibrated"));
  EXPECT_EQ(recording::PicturePhase(known), known.exposurePhase);

  // The plot shows the exposure's phase and says so only when every picture had it.
  known.idealPhase = unknown.idealPhase = 0;
  recording::PhaseHistory calibrated(5.0);
  calibrated.Add(known);
  EXPECT_NEAR(*calibrated.Summary().largestDeg, 9, 1e-6);
  EXPECT_TRUE(RunLog::Texts(calibrated).title.contains(QStringLiteral("экспозиции")));
  recording::PhaseHistory mixed(5.0);
  mixed.Add(known);
  mixed.Add(unknown);
  EXPECT_FALSE(mixed.Summary().exposurePhase);
  EXPECT_TRUE(mixed.Summary().mixedPhases);
  EXPECT_TRUE(RunLog::Texts(mixed).title.contains(QStringLiteral("иначе прихода кадра")));
  EXPECT_TRUE(
      RunLog::Texts(calibrated).summary.contains(QStringLiteral("задержка камеры 40.0 мс")));
  recording::PhaseHistory arrival(5.0);
  arrival.Add(unknown);
  EXPECT_TRUE(RunLog::Texts(arrival).title.contains(QStringLiteral("задержка камеры не измерена")));
  EXPECT_TRUE(
      RunLog::Texts(arrival).summary.contains(QStringLiteral("задержка камеры не измерена")));
}

// Pixels of the plot: the red of the pictures' marks, the black zero line, the band's blue.
bool Red(const QColor& c) {
  return c.red() > 150 && c.green() < 90 && c.blue() < 90;
}
bool Black(const QColor& c) {
  return c.red() < 100 && c.green() < 100 && c.blue() < 100;
}
bool Band(const QColor& c) {
  return c.blue() > 230 && c.red() < 230 && c.red() > 180;
}

// The mean row of the pixels inside the plot area, at column x, that `match` takes.
template <typename Match>
std::optional<double> MeanRow(const QImage& plot, double x, Match match, int* count = nullptr) {
  const QRect area = RunLog::PlotArea();
  double sum = 0;
  int n = 0;
  for (int y = area.top() + 2; y < area.bottom() - 1; ++y) {
    if (!match(plot.pixelColor(static_cast<int>(std::lround(x)), y))) continue;
    sum += y;
    ++n;
  }
  if (count) *count = n;
  if (n == 0) return std::nullopt;
  return sum / n;
}

// Where the plot puts position p of 1..last.
double PlotX(double p, double last) {
  const QRect area = RunLog::PlotArea();
  return area.left() + area.width() * (p - 1) / (last - 1);
}

PictureLogRow ErrorRow(int picture, double framePhase, double idealPhase) {
  PictureLogRow row;
  row.picture = picture;
  row.timeBase = QStringLiteral("tone");
  row.framePhase = framePhase;
  row.idealPhase = idealPhase;
  return row;
}

TEST(RunLogPhase, ErrorsWrapToHalfACircleAndTheSummaryGivesMedianLargestAndBand) {
  EXPECT_DOUBLE_EQ(recording::PhaseError(110, 100), 10);
  EXPECT_DOUBLE_EQ(recording::PhaseError(350, 0), -10);
  EXPECT_DOUBLE_EQ(recording::PhaseError(5, 355), 10);
  EXPECT_DOUBLE_EQ(recording::PhaseError(190, 10), 180);
  EXPECT_DOUBLE_EQ(recording::PhaseError(10, 190), 180);

  // Errors +1, +2, +3, -40 (320 against 0), +5: median +2, largest -40 with its sign.
  recording::PhaseHistory history(5.0);
  const double frames[][2] = {{1, 0}, {2, 0}, {3, 0}, {320, 0}, {15, 10}};
  for (int i = 0; i < 5; ++i) {
    PictureLogRow row = ErrorRow(i + 1, frames[i][0], frames[i][1]);
    // Frames 15 apart, 500 ms apart: a frame every 33.3 ms. The camera reopens before the
    // fourth picture (its numbers start again): the pair across the reopening is left out.
    row.frameNumber = i < 3 ? 10 + 15 * i : 2 + 15 * (i - 3);
    row.frameCaptureMs = 500.0 * i;
    history.Add(row);
  }
  history.Add(PictureLogRow{});  // a failed picture: no phase
  const recording::PhaseSummary summary = history.Summary();
  EXPECT_EQ(summary.pictures, 5u);
  ASSERT_TRUE(summary.medianDeg && summary.largestDeg && summary.frameIntervalMs);
  EXPECT_NEAR(*summary.medianDeg, 2, 0.05);
  EXPECT_DOUBLE_EQ(*summary.largestDeg, -40);
  EXPECT_NEAR(*summary.frameIntervalMs, 1000.0 / 30, 0.05);
  // Half of 33.3 ms at 5 Hz: 1/12 of a period.
  ASSERT_TRUE(summary.bandDeg);
  EXPECT_NEAR(*summary.bandDeg, 30, 0.1);
  const RunLog::PlotTexts texts = RunLog::Texts(history);
  EXPECT_FALSE(history.TimerMode());
  EXPECT_TRUE(texts.summary.contains(QStringLiteral("медиана +2.0\u00B0")))
      << texts.summary.toStdString();
  EXPECT_TRUE(texts.summary.contains(QStringLiteral("наибольшая -40.0\u00B0")));
  // ±30° at 5 Hz is ±16.7 ms: half of the 33.3 ms frame interval (its median to 0.05 ms), as
  // the label says.
  EXPECT_TRUE(texts.summary.contains(QStringLiteral("\u00B130.0\u00B0 = \u00B116.6")))
      << texts.summary.toStdString();

  // Without the tone's frequency the band cannot be known, and the plot says so.
  recording::PhaseHistory toneless;
  toneless.Add(ErrorRow(1, 10, 0));
  EXPECT_FALSE(toneless.Summary().bandDeg);
  EXPECT_TRUE(RunLog::Texts(toneless).summary.contains(QStringLiteral("полосы нет")));
}

TEST(RunLogPhase, PlotPutsEachErrorAboveOrBelowTheZeroLineInProportionBesideTheBand) {
  recording::PhaseHistory history(1.0);
  for (int n = 1; n <= 11; ++n) {
    // +10° but picture 6: 355° against 5° wraps to -10°; picture 9: +20°.
    PictureLogRow row = n == 6 ? ErrorRow(n, 355, 5) : ErrorRow(n, n == 9 ? 120 : 110, 100);
    // A frame every 1/36 s: at 1 Hz ± half of it is ±5°.
    row.frameNumber = 36 * n;
    row.frameCaptureMs = 1000.0 * n;
    history.Add(row);
  }
  const QImage plot = RunLog::DrawPhasePlot(history);
  ASSERT_EQ(plot.size(), QSize(800, 450));
  const std::optional<double> zero = MeanRow(plot, PlotX(4.5, 11), Black);
  const std::optional<double> plus10 = MeanRow(plot, PlotX(3, 11), Red);
  const std::optional<double> minus10 = MeanRow(plot, PlotX(6, 11), Red);
  const std::optional<double> plus20 = MeanRow(plot, PlotX(9, 11), Red);
  ASSERT_TRUE(zero && plus10 && minus10 && plus20);
  const double ten = *zero - *plus10;  // pixels for 10°, upward
  EXPECT_GT(ten, 20);
  EXPECT_NEAR(*minus10 - *zero, ten, 1.5);
  EXPECT_NEAR(*zero - *plus20, 2 * ten, 1.5);
  // The band spans ±5° about the zero line: 10° in all.
  int bandRows = 0;
  const std::optional<double> band = MeanRow(plot, PlotX(4.5, 11), Band, &bandRows);
  ASSERT_TRUE(band);
  EXPECT_NEAR(*band, *zero, 1.5);
  EXPECT_NEAR(bandRows, ten, 2.5);

  // A run folder without any phase gets no plot; one with a phase gets a readable PNG.
  QTemporaryDir dir;
  RunLog log;
  log.Begin(dir.path(), 1.0);
  PictureLogRow timer;
  timer.timeBase = QStringLiteral("timer");
  ASSERT_TRUE(log.Append(timer));
  EXPECT_FALSE(log.Finish());
  EXPECT_FALSE(QFile::exists(dir.filePath(RunLog::kPlotName)));
  ASSERT_TRUE(log.Append(ErrorRow(1, 110, 100)));
  EXPECT_TRUE(log.Finish());
  EXPECT_FALSE(QImage(dir.filePath(RunLog::kPlotName)).isNull());
}

// A log that cannot be written says so, with the path and the system's reason.
TEST(RunLog, AFileThatCannotBeWrittenLeavesATraceWithItsPathAndReason) {
  QTemporaryDir dir;
  const QString gone = dir.filePath(QStringLiteral("gone"));
  testing_support::LogRecorder traces;
  RunLog log;
  log.Begin(gone, 1.0);
  EXPECT_FALSE(log.Append(ErrorRow(1, 110, 100)));
  const QString expected = QStringLiteral("strobolux.recording: cannot write ") + gone +
                           QStringLiteral("/log.csv - No such file or directory");
  EXPECT_EQ(traces.Lines(), (QStringList{expected, expected}));  // the header, the row
}

TEST(RunLogPhase, TimerModePlotsThePhaseByTimeAndSaysSoInTheTitle) {
  recording::PhaseHistory history(5.0);
  // Ticks at 0, 1, 2 and 6 s (stopped and started again between) and one at 7 s.
  const double seconds[] = {0, 1, 2, 6, 7};
  for (int i = 0; i < 5; ++i) {
    PictureLogRow timer;
    timer.picture = 0;  // the Timer 1 mode numbers every picture 0
    timer.timeBase = QStringLiteral("timer");
    timer.frameNumber = 10 * i;
    timer.framePhase = i == 2 ? 270 : 90;
    history.Add(timer, seconds[i]);
  }
  ASSERT_TRUE(history.TimerMode());
  EXPECT_TRUE(RunLog::Texts(history).title.contains(QStringLiteral("Таймер 1")));
  const QImage plot = RunLog::DrawPhasePlot(history);
  const QRect area = RunLog::PlotArea();
  auto row = [&](double degrees) { return area.top() + area.height() * (1 - degrees / 360); };
  auto at = [](double s) { return PlotX(1 + s * 10, 71); };  // tenths of a second from 1
  for (double s : {0.0, 1.0, 6.0, 7.0}) {
    const std::optional<double> mark = MeanRow(plot, at(s), Red);
    ASSERT_TRUE(mark) << s;
    EXPECT_NEAR(*mark, row(90), 1.5) << s;
  }
  const std::optional<double> third = MeanRow(plot, at(2), Red);
  ASSERT_TRUE(third);
  EXPECT_NEAR(*third, row(270), 1.5);
  EXPECT_FALSE(MeanRow(plot, at(4), Red));  // the pause shows as a gap in time
}

TEST(RunLogPhase, MemoryStaysTheSameForAMillionPictures) {
  // A million pictures at +10°, a thousand of them at -30°: the log holds as many bytes after
  // them as after ten, and the plot still shows the thousand where they were.
  constexpr int kPictures = 1'000'000;
  recording::PhaseHistory history(5.0);
  std::size_t early = 0;
  std::size_t heapEarly = 0;
  PictureLogRow row = ErrorRow(0, 0, 0);
  for (int n = 1; n <= kPictures; ++n) {
    row.picture = n;
    row.framePhase = n >= 600'000 && n < 601'000 ? 330 : 10;
    row.frameNumber = 15 * n;
    row.frameCaptureMs = 500.0 * n;
    history.Add(row);
    if (n == 10) {
      early = history.RetainedBytes();
      heapEarly = mallinfo2().uordblks;
    }
  }
  EXPECT_EQ(history.RetainedBytes(), early);
  // The heap itself, not only what the history says it holds: 380 bytes a picture would be
  // 380 MB here.
  EXPECT_LT(static_cast<double>(mallinfo2().uordblks), static_cast<double>(heapEarly) + 65536);
  EXPECT_LT(early, 1u << 20);
  // The columns merged in pairs until they held them all; counts and ranges survive.
  const recording::ColumnTrace& errors = history.Errors();
  constexpr int kColumns = recording::ColumnTrace::kColumns;
  EXPECT_EQ(errors.Last(), kPictures);
  EXPECT_GE(errors.Span() * kColumns, kPictures);
  EXPECT_LT(errors.Span() * kColumns / 2, kPictures);
  std::uint64_t total = 0;
  for (const recording::ColumnTrace::Column& column : errors.Columns()) total += column.count;
  EXPECT_EQ(total, static_cast<std::uint64_t>(kPictures));
  const recording::ColumnTrace::Column& outliers = errors.Columns()[(600'500 - 1) / errors.Span()];
  EXPECT_DOUBLE_EQ(outliers.low, -30);
  EXPECT_DOUBLE_EQ(outliers.high, 10);
  EXPECT_DOUBLE_EQ(*history.Summary().largestDeg, -30);
  EXPECT_NEAR(*history.Summary().medianDeg, 10, 0.05);

  const QImage plot = RunLog::DrawPhasePlot(history);
  const std::optional<double> zero = MeanRow(plot, PlotX(300'000.5, kPictures), Black);
  ASSERT_TRUE(zero);
  auto below = [&](double picture) {
    for (int dx = -1; dx <= 1; ++dx) {
      const int x = static_cast<int>(std::lround(PlotX(picture, kPictures))) + dx;
      for (int y = static_cast<int>(*zero) + 3; y < RunLog::PlotArea().bottom() - 1; ++y)
        if (Red(plot.pixelColor(x, y))) return true;
    }
    return false;
  };
  EXPECT_TRUE(below(600'500));
  EXPECT_FALSE(below(300'000));
  EXPECT_TRUE(MeanRow(plot, PlotX(300'000, kPictures), Red));
}

// The capture times of every frame a camera delivered, by frame number (steady clock).
struct DeliveredFrames {
  std::mutex mutex;
  std::map<std::uint64_t, std::int64_t> captures;

  std::optional<std::int64_t> Capture(std::uint64_t number) {
    std::lock_guard lock(mutex);
    const auto found = captures.find(number);
    if (found == captures.end()) return std::nullopt;
    return found->second;
  }
};

class RunLogRunTest : public testing_support::RecordingWindowFixture {
 protected:
  VirtualCameras cameras_;
};

// Real time, about 3 s: the capture-window camera at 30 fps, a 5 Hz tone (10/2) and NC0 = 5,
// an instant every 0.5 s (two and a half tone periods). Run in the session's locale and in
// the Russian one, which writes decimal commas everywhere else.
TEST_F(RunLogRunTest, ClockRunLogsEachPictureInPhaseWithTheToneInEveryLocale) {
  ScopedLocale russian(QLocale(QLocale::Russian, QLocale::Russia));
  QTest::mouseClick(form->Command11, Qt::LeftButton);
  ASSERT_EQ(form->CameraOn(), 1);
  ASSERT_TRUE(
      WaitFor([&] { return testing_support::RecordingCameraDelivers(form->Camera()); }, 10000));
  // What the camera delivered, to judge the frame each picture took against its neighbours
  // (shared with the streaming thread, which may call after this test's locals are gone).
  const auto delivered = std::make_shared<DeliveredFrames>();
  form->Camera().RecordingCamera().SetFrameObserver([delivered](const gst::FramePtr& frame) {
    std::lock_guard lock(delivered->mutex);
    delivered->captures[frame->Number()] = frame->CaptureNs();
  });
  ChooseVirtualDevice();
  form->Option5->setChecked(true);
  form->Check2->setChecked(true);
  form->Text4->setText(QStringLiteral("10"));
  form->Text27->setText(QStringLiteral("2"));
  form->Text7->setText(QStringLiteral("5"));
  QTimer::singleShot(3000, form->Command4, &QPushButton::click);
  form->Generator().Command20_Click();
  form->Recorder().WaitUntilWritten();
  ASSERT_TRUE(boxes.Calls().empty());

  const QString folder = form->Recorder().Names().PictureFolder;
  const QStringList pictures =
      QDir(folder).entryList(QStringList{QStringLiteral("*.bmp")}, QDir::Files, QDir::Name);
  const Csv csv = ReadCsv(QDir(folder).filePath(RunLog::kFileName));
  EXPECT_EQ(csv.columns, kColumns);
  ASSERT_GE(pictures.size(), 5);
  ASSERT_EQ(csv.rows.size(), static_cast<size_t>(pictures.size()));
  constexpr double kToneHz = 5;
  constexpr double kDegreesPerMs = 360 * kToneHz / 1000;
  constexpr double kFrameMs = 1000.0 / 30;
  double leastLateMs = 1e9;
  for (size_t i = 0; i < csv.rows.size(); ++i) {
    SCOPED_TRACE(i);
    std::map<QString, QString> row = csv.rows[i];
    EXPECT_EQ(row["picture"].toInt(), static_cast<int>(i + 1));
    EXPECT_TRUE(pictures.contains(row["file"])) << row["file"].toStdString();
    EXPECT_EQ(row["time_base"], QStringLiteral("tone"));
    EXPECT_TRUE(row["error"].isEmpty());
    std::map<QString, double> n;
    for (const char* column :
         {"due_ms", "actual_ms", "frame_number", "frame_capture_ms", "frame_age_ms",
          "frame_phase_deg", "instant_phase_deg", "ideal_phase_deg", "save_ms"}) {
      bool ok = false;
      n[QString::fromLatin1(column)] = Parse(row[QString::fromLatin1(column)], &ok);
      EXPECT_TRUE(ok) << column << " = " << row[QString::fromLatin1(column)].toStdString();
    }
    EXPECT_DOUBLE_EQ(n["due_ms"], 500.0 * (i + 1));
    EXPECT_GE(n["actual_ms"], n["due_ms"]);
    const double lateMs = n["actual_ms"] - n["due_ms"];
    leastLateMs = std::min(leastLateMs, lateMs);
    // The settings imply 0° and 180° in turn; the tone's clock puts the due instant there
    // within 1 ms of tone.
    EXPECT_DOUBLE_EQ(n["ideal_phase_deg"], i % 2 == 0 ? 180.0 : 0.0);
    double off = std::fmod(n["instant_phase_deg"] - n["ideal_phase_deg"] + 540, 360) - 180;
    EXPECT_LE(std::abs(off), 1 * kDegreesPerMs) << n["instant_phase_deg"];
    // The frame nearest the instant of those the camera delivered: no further from it than
    // half the gap to the delivered frame on its other side (half a frame interval, more
    // where the camera dropped one). Only for an instant seen in time for the frames around
    // it to be still kept (the last four, a tenth of a second): a loaded machine may see one
    // later than that.
    const auto number = static_cast<std::uint64_t>(n["frame_number"]);
    const double ageMs = n["frame_age_ms"];
    if (lateMs < kFrameMs / 2) {
      const std::uint64_t neighbour = ageMs >= 0 ? number + 1 : number - 1;
      ASSERT_TRUE(WaitFor([&] { return delivered->Capture(neighbour).has_value(); }, 5000));
      const std::optional<std::int64_t> capture = delivered->Capture(number);
      ASSERT_TRUE(capture);
      const double gapMs =
          std::abs(static_cast<double>(*delivered->Capture(neighbour) - *capture)) / 1e6;
      EXPECT_LE(std::abs(ageMs), gapMs / 2 + 0.001)
          << "the delivered frame " << neighbour << " was nearer the instant";
    }
    // Its capture and phase are the instant's less its age. (Its save time counts from when
    // the picture was queued, a moment after the instant was seen, so the save's end is not
    // known on the instant's scale: a frame captured in between is no fault.)
    EXPECT_NEAR(n["frame_capture_ms"], n["due_ms"] - n["frame_age_ms"], 0.05);
    off = std::fmod(n["frame_phase_deg"] -
                        (n["instant_phase_deg"] - n["frame_age_ms"] * kDegreesPerMs) + 540,
                    360) -
          180;
    EXPECT_LE(std::abs(off), 0.1);
    if (i > 0) {
      bool ok = false;
      EXPECT_GT(n["frame_number"], Parse(csv.rows[i - 1].at(QStringLiteral("frame_number")), &ok));
    }
  }
  // Instants come when due: a loaded machine makes some late, never all of them.
  EXPECT_LT(leastLateMs, 50);
  form->Camera().RecordingCamera().SetFrameObserver({});
  const QImage plot(QDir(folder).filePath(RunLog::kPlotName));
  EXPECT_FALSE(plot.isNull());
}

// A picture that fails gets its row with the failure's text; the one before it its file.
TEST_F(RunLogRunTest, FailedPictureHasItsRowWithTheFailure) {
  ASSERT_NO_FATAL_FAILURE(testing_support::FilterGraphOn(*form, 0));
  ChooseVirtualDevice();
  form->Check2->setChecked(true);
  form->Generator().Command20_Click();  // Timer 1 mode
  form->Generator().Timer1_Timer();
  QTest::mouseClick(form->Command13, Qt::LeftButton);  // the camera goes off
  form->Generator().Timer1_Timer();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  form->Recorder().WaitUntilWritten();
  const Csv csv = ReadCsv(QDir(form->Recorder().Names().PictureFolder).filePath(RunLog::kFileName));
  ASSERT_EQ(csv.rows.size(), 2u);
  std::map<QString, QString> saved = csv.rows[0], failed = csv.rows[1];
  EXPECT_TRUE(QFile::exists(QDir(form->Recorder().Names().PictureFolder).filePath(saved["file"])));
  EXPECT_TRUE(saved["error"].isEmpty());
  EXPECT_EQ(saved["time_base"], QStringLiteral("timer"));
  EXPECT_TRUE(saved["due_ms"].isEmpty());
  EXPECT_FALSE(saved["frame_number"].isEmpty());
  EXPECT_FALSE(failed["error"].isEmpty());
  EXPECT_EQ(failed["picture"], QStringLiteral("0"));
  form->Generator().Command4_Click();
}

}  // namespace

// What a run's start says of the frames' phases: the status line in the operator's locale,
// the script's line with '.' decimals whatever the locale.
TEST(FrameForecast, TheStatusLineSpeaksTheOperatorsLocaleAndTheScriptsLineItsOwn) {
  const std::vector<double> offered{30, 15};
  for (const char* locale : {"en_US", "ru_RU"}) {
    SCOPED_TRACE(locale);
    const bool russian = QLatin1String(locale) == QLatin1String("ru_RU");
    ScopedLocale scoped{QLocale(QString::fromLatin1(locale))};
    const recording::FrameForecastText phase =
        recording::FrameChoiceForecast(30, 5, 0.2, 10, offered);
    EXPECT_EQ(phase.line,
              QString::fromUtf8("frame by phase: phase error about 15.0°, at most 29.9° (nearest "
                                "frame: 15.0°, at most 29.9°); the frames take 6 phases 60.0° "
                                "apart"));
    EXPECT_TRUE(phase.status.startsWith(
        QString::fromUtf8(russian ? " Кадр по фазе: ошибка фазы около 15,0°, до 29,9°"
                                  : " Кадр по фазе: ошибка фазы около 15.0°, до 29.9°")))
        << phase.status.toStdString();
    // 30 frames a second against 7.5 Hz: four phases, in Russian as four are counted.
    EXPECT_TRUE(recording::FrameChoiceForecast(30, 7.5, 0.4, 10, offered)
                    .status.contains(QString::fromUtf8("кадры дают 4 фазы с шагом 90")));
    // A rate that is not a number says nothing rather than nonsense.
    EXPECT_TRUE(recording::FrameChoiceForecast(NAN, 5, 0.2, 0, offered).line.isEmpty());

    const recording::FrameForecastText shortExposure = recording::StrobeForecast(30, 10, true);
    EXPECT_TRUE(shortExposure.status.contains(
        QString::fromUtf8(russian ? "экспозиция 10,0 мс короче кадра (33,3 мс)"
                                  : "экспозиция 10.0 мс короче кадра (33.3 мс)")))
        << shortExposure.status.toStdString();
    EXPECT_TRUE(shortExposure.line.startsWith(QStringLiteral("strobe: the exposure of 10.0 ms")));
    EXPECT_TRUE(recording::StrobeForecast(30, 33, true).status.isEmpty());
    EXPECT_TRUE(recording::StrobeForecast(30, 33, false)
                    .line.contains(QStringLiteral("delay is not calibrated")));
  }
}

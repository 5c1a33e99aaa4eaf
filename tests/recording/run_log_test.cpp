// The run folder's log.csv and phase.png: the rows as written, the plot, and whole runs on the
// virtual devices in real time.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <map>

#include "platform/gst/virtual_devices.h"
#include "recording/run_log.h"
#include "tests/support/camera_support.h"
#include "tests/support/generator_fixture.h"

namespace {

using recording::PictureLogRow;
using recording::RunLog;
using testing_support::ScopedLocale;
using testing_support::VirtualCameras;
using testing_support::WaitFor;

// Splits one CSV line, with "..." cells holding commas and doubled quotes.
QStringList SplitCsv(const QString& line) {
  QStringList cells;
  QString cell;
  bool quoted = false;
  for (int i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (quoted && c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == '"') {
      cell += c;
      ++i;
    } else if (c == QLatin1Char('"')) {
      quoted = !quoted;
    } else if (c == QLatin1Char(',') && !quoted) {
      cells << cell;
      cell.clear();
    } else {
      cell += c;
    }
  }
  cells << cell;
  return cells;
}

struct Csv {
  QString comment;
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
    if (line.startsWith(QLatin1Char('#'))) {
      csv.comment = line;
    } else if (csv.columns.isEmpty()) {
      csv.columns = SplitCsv(line);
    } else {
      const QStringList cells = SplitCsv(line);
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
                           "error"};

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
    row.instantPhase = 0.25;
    row.idealPhase = 0;
    row.timeBase = QStringLiteral("tone");
    row.saveMs = 1.5;
    ASSERT_TRUE(log.Append(row));
    PictureLogRow failed;
    failed.picture = 1235;
    failed.timeBase = QStringLiteral("tick");
    failed.error = QStringLiteral("Path/File access error, \"1235.jpg\"");
    ASSERT_TRUE(log.Append(failed));

    const Csv csv = ReadCsv(QDir(folder).filePath(RunLog::kFileName));
    EXPECT_TRUE(csv.comment.contains(QLatin1String("C locale")));
    EXPECT_EQ(csv.columns, kColumns);
    ASSERT_EQ(csv.rows.size(), 2u);
    std::map<QString, QString> first = csv.rows[0];
    EXPECT_EQ(first["due_ms"], QStringLiteral("617000.500"));
    EXPECT_EQ(first["frame_age_ms"], QStringLiteral("10.375"));
    EXPECT_EQ(first["picture"], QStringLiteral("1234"));  // no digit groups
    EXPECT_EQ(first["frame_number"], QStringLiteral("18511"));
    std::map<QString, QString> second = csv.rows[1];
    EXPECT_EQ(second["error"], failed.error);
    EXPECT_EQ(second["due_ms"], QString());  // unknown stays empty, never 0
    EXPECT_EQ(second["frame_phase_deg"], QString());
  }
}

TEST(RunLog, PhasePlotPutsEachPictureAtItsPhaseBesideTheIdealLine) {
  std::vector<PictureLogRow> rows;
  for (int n = 1; n <= 11; ++n) {
    PictureLogRow row;
    row.picture = n;
    row.idealPhase = 100;
    row.framePhase = n == 6 ? 280.0 : 100.0;  // one picture half a period off
    rows.push_back(row);
  }
  const QImage plot = RunLog::DrawPhasePlot(rows);
  ASSERT_EQ(plot.size(), QSize(800, 400));
  // The plot area: x from 50 to 785 for pictures 1..11, y from 365 (0°) up to 15 (360°).
  auto at = [&](double picture, double degrees) {
    return plot.pixelColor(static_cast<int>(std::lround(50 + 735 * (picture - 1) / 10)),
                           static_cast<int>(std::lround(365 - 350 * degrees / 360)));
  };
  auto red = [](const QColor& c) { return c.red() > 150 && c.green() < 90 && c.blue() < 90; };
  EXPECT_TRUE(red(at(6, 280)));
  EXPECT_FALSE(red(at(6, 100)));
  EXPECT_TRUE(red(at(3, 100)));
  EXPECT_FALSE(red(at(3, 280)));
  // Between two pictures only the ideal line is there, green, within a pixel of its height.
  bool green = false;
  for (double degrees : {99.0, 100.0, 101.0}) {
    const QColor c = at(4.5, degrees);
    green = green || c.green() > c.red() + 40;
  }
  EXPECT_TRUE(green);
  EXPECT_EQ(at(4.5, 200), QColor(Qt::white));

  // A run folder without any phase gets no plot; one with a phase gets a readable PNG.
  QTemporaryDir dir;
  RunLog log;
  log.Begin(dir.path());
  PictureLogRow timer;
  timer.timeBase = QStringLiteral("timer");
  log.Append(timer);
  EXPECT_FALSE(log.Finish());
  EXPECT_FALSE(QFile::exists(dir.filePath(RunLog::kPlotName)));
  log.Append(rows[0]);
  EXPECT_TRUE(log.Finish());
  EXPECT_FALSE(QImage(dir.filePath(RunLog::kPlotName)).isNull());
}

class RunLogRunTest : public testing_support::GeneratorFixture {
 protected:
  VirtualCameras cameras_;
};

// Real time, about 3 s: the capture-window camera at 30 fps, a 5 Hz tone (10/2) and NC0 = 5,
// an instant every 0.5 s (two and a half tone periods). Run in the session's locale and in
// the Russian one, which writes decimal commas everywhere else.
TEST_F(RunLogRunTest, ClockRunLogsEachPictureInPhaseWithTheToneInEveryLocale) {
  ScopedLocale russian(QLocale(QLocale::Russian, QLocale::Russia));
  QTest::mouseClick(form->Command11, Qt::LeftButton);
  ASSERT_EQ(form->CameraOn, 1);
  testing_support::RunEventsFor(300);
  ChooseVirtualDevice();
  form->Option5->setChecked(true);
  form->Check2->setChecked(true);
  form->Text4->setText(QStringLiteral("10"));
  form->Text27->setText(QStringLiteral("2"));
  form->Text7->setText(QStringLiteral("5"));
  QTimer::singleShot(3000, form->Command4, &QPushButton::click);
  form->Generator().Command20_Click();
  ASSERT_TRUE(boxes.Calls().empty());

  const QString folder = form->PictureFolder;
  const QStringList pictures =
      QDir(folder).entryList(QStringList{QStringLiteral("*.bmp")}, QDir::Files, QDir::Name);
  const Csv csv = ReadCsv(QDir(folder).filePath(RunLog::kFileName));
  EXPECT_EQ(csv.columns, kColumns);
  ASSERT_GE(pictures.size(), 5);
  ASSERT_EQ(csv.rows.size(), static_cast<size_t>(pictures.size()));
  constexpr double kToneHz = 5;
  constexpr double kDegreesPerMs = 360 * kToneHz / 1000;
  constexpr double kHalfFrameMs = 1000.0 / 30 / 2;
  constexpr double kCameraJitterMs = 10;
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
    EXPECT_LT(n["actual_ms"], n["due_ms"] + 100);
    // The settings imply 0° and 180° in turn; the tone's clock puts the due instant there
    // within 1 ms of tone.
    EXPECT_DOUBLE_EQ(n["ideal_phase_deg"], i % 2 == 0 ? 180.0 : 0.0);
    double off = std::fmod(n["instant_phase_deg"] - n["ideal_phase_deg"] + 540, 360) - 180;
    EXPECT_LE(std::abs(off), 1 * kDegreesPerMs) << n["instant_phase_deg"];
    // The frame nearest the instant: never further than half a frame interval plus the
    // camera's jitter, never captured after the picture was taken, and its phase is the
    // instant's less its age.
    EXPECT_LE(std::abs(n["frame_age_ms"]), kHalfFrameMs + kCameraJitterMs);
    EXPECT_LE(n["frame_capture_ms"], n["actual_ms"] + n["save_ms"]);
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
  const QImage plot(QDir(folder).filePath(RunLog::kPlotName));
  EXPECT_FALSE(plot.isNull());
}

// A picture that fails gets its row with the failure's text; the one before it its file.
TEST_F(RunLogRunTest, FailedPictureHasItsRowWithTheFailure) {
  form->Option8->click();
  QTest::mouseClick(form->Command11, Qt::LeftButton);
  testing_support::ClickListRow(form->Combo2, 0);
  ASSERT_EQ(form->CameraOn, 1);
  ASSERT_TRUE(WaitFor([&] { return form->FilterGraph->Camera()->FrameCount() >= 2; }, 5000));
  ChooseVirtualDevice();
  form->Check2->setChecked(true);
  form->Generator().Command20_Click();  // Timer 1 mode
  form->Generator().Timer1_Timer();
  QTest::mouseClick(form->Command13, Qt::LeftButton);  // the camera goes off
  form->Generator().Timer1_Timer();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  const Csv csv = ReadCsv(QDir(form->PictureFolder).filePath(RunLog::kFileName));
  ASSERT_EQ(csv.rows.size(), 2u);
  std::map<QString, QString> saved = csv.rows[0], failed = csv.rows[1];
  EXPECT_TRUE(QFile::exists(QDir(form->PictureFolder).filePath(saved["file"])));
  EXPECT_TRUE(saved["error"].isEmpty());
  EXPECT_EQ(saved["time_base"], QStringLiteral("timer"));
  EXPECT_TRUE(saved["due_ms"].isEmpty());
  EXPECT_FALSE(saved["frame_number"].isEmpty());
  EXPECT_FALSE(failed["error"].isEmpty());
  EXPECT_EQ(failed["picture"], QStringLiteral("0"));
  form->Generator().Command4_Click();
}

}  // namespace

// Output names, snapshots and periodic pictures through the real main window, with the
// virtual sound device, the test cameras and a program folder of the test's own.

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "camera/camera_control.h"
#include "platform/capture/capture_window.h"
#include "platform/forms/conversions.h"
#include "platform/forms/runtime_error.h"
#include "platform/gst/camera_controls.h"
#include "platform/gst/exposure_lock.h"
#include "platform/gst/test_scene.h"
#include "platform/gst/virtual_devices.h"
#include "platform/wave/wave_out.h"
#include "recording/frame_files.h"
#include "recording/output_files.h"
#include "recording/picture_window.h"
#include "tests/support/camera_support.h"
#include "tests/support/camera_switch.h"
#include "tests/support/recording_fixture.h"
#include "tests/support/simulated_time.h"
#include "tests/support/small_disk.h"
#include "tests/support/wav_file.h"

namespace {

using testing_support::MeanDifference;
using testing_support::RunEventsFor;
using testing_support::ScopedLocale;
using testing_support::SimulatedTime;
using testing_support::VirtualCameras;
using testing_support::WaitFor;

const QString kError = QStringLiteral("Ошибка в работе программы");
const QString kWriteError = QStringLiteral("Ошибка записи картинки в файл");
const QString kSnapped = QStringLiteral(" Snapped and saved.  Previewing camera");

QStringList Entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
}

QImage Rgb(const QImage& image) {
  return image.convertToFormat(QImage::Format_RGB888);
}

TEST(OutputNames, NamesComeFromTheDateAndTimeOfTheOperation) {
  QTemporaryDir program;
  recording::SetProgramFolder(program.path());
  recording::NamingState names;
  const QDateTime moment(QDate(2026, 12, 6), QTime(14, 5, 9));
  for (const char* locale : {"C", "en_US", "ru_RU"}) {
    SCOPED_TRACE(locale);
    ScopedLocale scoped{QLocale(QString::fromLatin1(locale))};
    recording::RenewDateTime(names, moment);
    EXPECT_EQ(names.DateText, QStringLiteral("06_12_2026"));
    EXPECT_EQ(names.TimeText, QStringLiteral("14_05_09"));
  }
  EXPECT_EQ(recording::RunStamp(names), QStringLiteral("06_12_2026_14_05_09"));
  EXPECT_EQ(recording::SnapshotFileName(names, QStringLiteral(".jpg")),
            program.filePath(QStringLiteral("SnapShot/06_12_2026_14_05_09.jpg")));
  EXPECT_EQ(recording::VideoBaseName(names),
            program.filePath(QStringLiteral("Video/06_12_2026_14_05_09")));

  // The run folder needs its base folder, and a second run in the same second fails.
  EXPECT_THROW(recording::CreatePictureFolder(names, moment), forms::RuntimeError);
  EXPECT_EQ(names.PictureFolder, program.filePath(QStringLiteral("Risunki/06_12_2026_14_05_09")));
  ASSERT_TRUE(QDir(program.path()).mkdir(QStringLiteral("Risunki")));
  recording::CreatePictureFolder(names, moment);
  EXPECT_TRUE(QDir(names.PictureFolder).exists());
  EXPECT_EQ(recording::PictureFileName(names, 12, QStringLiteral(".bmp")),
            names.PictureFolder + QStringLiteral("/12.bmp"));
  try {
    recording::CreatePictureFolder(names, moment);
    ADD_FAILURE() << "a second folder of the same second was made";
  } catch (const forms::RuntimeError& error) {
    EXPECT_EQ(error.Number(), forms::kPathFileAccess);
  }
  recording::SetProgramFolder(QString());
}

class RecordingTest : public testing_support::RecordingWindowFixture {
 protected:
  void SetUp() override {
    testing_support::RecordingWindowFixture::SetUp();
    sim_ = std::make_unique<SimulatedTime>(3600 * 1000 * SimulatedTime::kMs);
    form->Generator().SetTimeSource(*sim_);
    form->Recorder().SetTimeSource(*sim_);
    ChooseVirtualDevice();
  }
  void TearDown() override {
    if (form) form->Generator().Command4_Click();
    testing_support::RecordingWindowFixture::TearDown();
  }

  QString Folder(const char* name) const {
    return QDir(ProgramFolder()).filePath(QString::fromLatin1(name));
  }
  recording::Form6& PictureWindow() { return form->PictureWindow(); }
  // The writer's queue written and its reports shown.
  void Written() { form->Recorder().WaitUntilWritten(); }

  void CaptureWindowOn() { testing_support::CaptureWindowOn(*form); }
  void FilterGraphOn(int row = 0) { testing_support::FilterGraphOn(*form, row); }

  // A clock-mode run (NC0 = 2 at 2/2 Hz: an instant a second) that records `pictures` and
  // keeps the stamp of each as the text panel showed it.
  void RunClock(int pictures) {
    form->Option5->setChecked(true);
    form->Check2->setChecked(true);
    RecordWith([this, pictures](const generator::Instant& instant) {
      form->Recorder().RecordPicture(instant);
      stamps_.push_back(PictureWindow().Picture1->Image().copy(0, 0, 200, 50));
      lines_.push_back(recording::StampLines(instant)[1]);
      if (static_cast<int>(stamps_.size()) == pictures)
        QMetaObject::invokeMethod(form->Command4, &QPushButton::click, Qt::QueuedConnection);
    });
    form->Generator().Command20_Click();
    Written();
  }

  // Each picture due goes to `record` in place of the recording's own receiver.
  void RecordWith(std::function<void(const generator::Instant&)> record) {
    QObject::disconnect(&form->Generator(), &generator::Generator::PictureDue, &form->Recorder(),
                        nullptr);
    testing_support::OnPictureDue(form->Generator(), &form->Recorder(), std::move(record));
  }

  VirtualCameras cameras_;
  std::unique_ptr<SimulatedTime> sim_;
  std::vector<QImage> stamps_;
  QStringList lines_;
};

TEST_F(RecordingTest, ClockModeWritesNumberedPicturesThatCarryTheirStamp) {
  ScopedLocale c(QLocale::c());
  CaptureWindowOn();
  RunClock(3);
  ASSERT_TRUE(boxes.Calls().empty()) << boxes.Calls()[0].text.toStdString();
  const QString folder = Folder("Risunki/06_12_2026_14_05_09");
  EXPECT_EQ(form->Recorder().Names().PictureFolder, folder);
  // The pictures and the run's log; no phase plot, as simulated time has no tone clock.
  EXPECT_EQ(Entries(folder), (QStringList{"1.bmp", "2.bmp", "3.bmp", "log.csv", "run.json"}));
  EXPECT_EQ(lines_[2], QStringLiteral("N=   3       dT= 3"));
  EXPECT_FALSE(PictureWindow().isVisible());  // Check3 unticked: drawn on, not shown
  for (int n = 1; n <= 3; ++n) {
    const QImage picture(folder + QStringLiteral("/%1.bmp").arg(n));
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), PictureWindow().Picture2->contentsRect().size());
    EXPECT_EQ(Rgb(picture.copy(0, 0, 200, 50)), Rgb(stamps_[n - 1])) << "picture " << n;
    if (n > 1) {
      EXPECT_NE(Rgb(stamps_[n - 1]), Rgb(stamps_[n - 2]));
    }
  }
  EXPECT_EQ(form->Recorder().Names().OutputFileName, folder + QStringLiteral("/3.bmp"));
}

// The picture window's menu chooses the camera's own frames: grey PNGs at the camera's size
// beside the pictures, named in the rows and the record, the choice kept for the next window.
TEST_F(RecordingTest, FramesChosenInThePictureWindowGoBesideThePictures) {
  CaptureWindowOn();
  PictureWindow().SaveFrames->trigger();
  PictureWindow().GreyFrames->trigger();
  RunClock(2);
  ASSERT_TRUE(boxes.Calls().empty()) << boxes.Calls()[0].text.toStdString();
  const QString folder = form->Recorder().Names().PictureFolder;
  EXPECT_EQ(Entries(folder),
            (QStringList{"1.bmp", "1.frame.png", "2.bmp", "2.frame.png", "log.csv", "run.json"}));
  const QImage frame(folder + QStringLiteral("/2.frame.png"));
  EXPECT_EQ(frame.format(), QImage::Format_Grayscale8);
  EXPECT_EQ(frame.size(), QSize(640, 480));  // the camera's, not the picture's 636 x 476
  QFile log(folder + QStringLiteral("/log.csv"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> rows = log.readAll().trimmed().split('\n');
  ASSERT_EQ(rows.size(), 3);
  const QStringList columns = testing_support::SplitCsvLine(QString::fromUtf8(rows[0]));
  EXPECT_EQ(testing_support::SplitCsvLine(QString::fromUtf8(rows[2]))
                .value(columns.indexOf(QStringLiteral("frame_file"))),
            QStringLiteral("2.frame.png"));
  QFile record(folder + QStringLiteral("/run.json"));
  ASSERT_TRUE(record.open(QIODevice::ReadOnly));
  EXPECT_TRUE(record.readAll().contains("\"frames\": \"grey\""));

  recording::Form6 next;
  EXPECT_TRUE(next.SaveFrames->isChecked());
  EXPECT_TRUE(next.GreyFrames->isChecked());
  next.SaveFrames->trigger();  // off again, for the tests after this one
  EXPECT_EQ(recording::FrameFilesChosen(), recording::FrameFiles::None);
}

// The lock: automatic exposure reaches a value in a dim scene; a run holds it while the scene
// brightens (automatic, it would shorten fourfold), its record says so, and the automatic
// mode comes back at the stop.
TEST_F(RecordingTest, TheExposureLockHoldsThroughARunWhileTheSceneBrightens) {
  CaptureWindowOn();
  const auto controls = gst::ControlsOf(form->Camera().RecordingCamera());
  ASSERT_TRUE(controls);
  const auto exposure = [&] { return controls->Get(V4L2_CID_EXPOSURE_ABSOLUTE).value_or(0); };
  gst::SetTestSceneLight(0.5);
  ASSERT_TRUE(controls->Set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY));
  // The demo scene's 10 ms at full light: 20 ms in half the light, in units of 100 us.
  ASSERT_TRUE(WaitFor([&] { return std::abs(exposure() - 200) <= 4; }, 5000)) << exposure();
  gst::ChooseExposureLock(true);
  form->Check2->setChecked(true);
  form->Generator().Command20_Click();  // Timer 1 mode
  ASSERT_TRUE(form->Timer1->isActive());
  const int held = exposure();
  gst::SetTestSceneLight(2);
  RunEventsFor(500);  // 15 frames: automatic exposure would be near 5 ms by now
  EXPECT_EQ(exposure(), held);
  form->Generator().Timer1_Timer();
  form->Generator().Command4_Click();
  Written();
  gst::ChooseExposureLock(false);
  EXPECT_EQ(controls->Get(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_APERTURE_PRIORITY);
  EXPECT_TRUE(WaitFor([&] { return exposure() < held / 2; }, 5000)) << exposure();
  gst::SetTestSceneLight(1);

  QFile file(form->Recorder().Names().PictureFolder + QStringLiteral("/run.json"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
  // A Timer 1 run: its interval, no NC0.
  const QJsonObject settings = record[QStringLiteral("settings")].toObject();
  EXPECT_EQ(settings[QStringLiteral("mode")].toString(), QStringLiteral("timer"));
  EXPECT_DOUBLE_EQ(settings[QStringLiteral("timer_s")].toDouble(),
                   form->Generator().Timer1Interval() / 1000.0);
  EXPECT_TRUE(settings[QStringLiteral("every_periods")].isNull());
  const QJsonObject camera = record[QStringLiteral("camera")].toObject();
  EXPECT_TRUE(camera[QStringLiteral("locked")].toBool());
  // The start as the operator left it, the end as the lock held it.
  const QJsonObject start = camera[QStringLiteral("controls_start")].toObject();
  EXPECT_EQ(start[QStringLiteral("auto_exposure")].toInt(), V4L2_EXPOSURE_APERTURE_PRIORITY);
  EXPECT_NEAR(start[QStringLiteral("exposure_time_absolute")].toInt(), held, 4);
  const QJsonObject end = camera[QStringLiteral("controls_end")].toObject();
  EXPECT_EQ(end[QStringLiteral("auto_exposure")].toInt(), V4L2_EXPOSURE_MANUAL);
  EXPECT_EQ(end[QStringLiteral("exposure_time_absolute")].toInt(), held);
  // The picture's row knows the exposure the lock made known.
  QFile log(form->Recorder().Names().PictureFolder + QStringLiteral("/log.csv"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> rows = log.readAll().trimmed().split('\n');
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(testing_support::SplitCsvLine(QString::fromUtf8(rows[1])).value(15),
            QString::number(held / 10.0, 'f', 3));
}

// A start that fails after the recording began its run (here a later receiver of the start
// refuses) ends that run: the lock is given back and the record says why it ended.
TEST_F(RecordingTest, AStartThatFailsAfterTheRunBeganEndsItsRecordAndItsLock) {
  CaptureWindowOn();
  const auto controls = gst::ControlsOf(form->Camera().RecordingCamera());
  ASSERT_TRUE(controls);
  ASSERT_TRUE(controls->Set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY));
  gst::ChooseExposureLock(true);
  QObject::connect(&form->Generator(), &generator::Generator::RunStarting, form.get(),
                   [](const generator::RunStart&, generator::Outcome& outcome) {
                     outcome.Run([] { throw std::runtime_error("refused by a receiver"); });
                   });
  form->Check2->setChecked(true);
  form->Generator().Command20_Click();
  gst::ChooseExposureLock(false);
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
  EXPECT_FALSE(form->Camera().RunLocked());
  EXPECT_EQ(controls->Get(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_APERTURE_PRIORITY);
  Written();
  QFile file(form->Recorder().Names().PictureFolder + QStringLiteral("/run.json"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QJsonObject end =
      QJsonDocument::fromJson(file.readAll()).object()[QStringLiteral("end")].toObject();
  EXPECT_EQ(end[QStringLiteral("how")].toString(), QStringLiteral("failure"));
  EXPECT_EQ(end[QStringLiteral("failure")].toString(), QStringLiteral("refused by a receiver"));
}

TEST_F(RecordingTest, TimerModeRenewsPictureZeroAtEveryTick) {
  CaptureWindowOn();
  form->Check2->setChecked(true);
  form->Generator().Command20_Click();
  ASSERT_TRUE(form->Timer1->isActive());
  const QString file = form->Recorder().Names().PictureFolder + QStringLiteral("/0.bmp");
  form->Generator().Timer1_Timer();
  Written();
  const QImage first(file);
  ASSERT_FALSE(first.isNull());
  RunEventsFor(150);  // the camera moves on
  form->Generator().Timer1_Timer();
  Written();
  EXPECT_EQ(Entries(form->Recorder().Names().PictureFolder),
            (QStringList{"0.bmp", "log.csv", "run.json"}));
  EXPECT_NE(Rgb(QImage(file)), Rgb(first));
  EXPECT_TRUE(boxes.Calls().empty());

  // Stopped and started again within the same second: the run folder exists already, so
  // the start fails and no tone starts.
  form->Generator().Command4_Click();
  form->Generator().Command20_Click();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
  EXPECT_FALSE(form->Timer1->isActive());
}

TEST_F(RecordingTest, TimerModeWithoutARunFolderFailsOnceAndWritesNothing) {
  CaptureWindowOn();
  form->Generator().Command20_Click();  // Check2 unticked: no run folder since start-up
  form->Generator().Timer1_Timer();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);
  EXPECT_TRUE(Entries(Folder("Risunki")).isEmpty());
}

// A time source that fails as a library can: with a standard exception, not the program's own.
class FailingTime : public SimulatedTime {
 public:
  using SimulatedTime::SimulatedTime;
  QDateTime Now() override { throw std::length_error("no time"); }
  std::int64_t Nanoseconds() override { throw std::length_error("no time"); }
};

TEST_F(RecordingTest, AnyExceptionWhileSavingTakesTheGeneralFailurePath) {
  CaptureWindowOn();
  FailingTime failing(0);
  form->Recorder().SetTimeSource(failing);
  QTest::mouseClick(form->Command19, Qt::LeftButton);
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kWriteError);

  // The same failure inside the recording of a run's picture (the choice of its frame).
  form->Recorder().SetTimeSource(*sim_);
  form->Check2->setChecked(true);
  form->Generator().Command20_Click();  // Timer 1 mode: its run folder, then the ticks
  ASSERT_TRUE(form->Timer1->isActive());
  form->Recorder().SetTimeSource(failing);
  form->Generator().Timer1_Timer();
  ASSERT_EQ(boxes.Calls().size(), 2u);
  EXPECT_EQ(boxes.Calls()[1].text, kError);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);  // the tone plays on

  // The picture has its row, with the library's text.
  Written();
  QFile log(form->Recorder().Names().PictureFolder + QStringLiteral("/log.csv"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> rows = log.readAll().trimmed().split('\n');
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(testing_support::SplitCsvLine(QString::fromUtf8(rows[1])).value(12),
            QStringLiteral("no time"))
      << rows[1].toStdString();

  // In the clock mode the start's handler ends the clock.
  form->Generator().Command4_Click();
  form->Option5->setChecked(true);
  form->Recorder().SetTimeSource(*sim_);
  sim_->Advance(1000 * SimulatedTime::kMs);
  RecordWith([this, &failing](const generator::Instant& instant) {
    form->Recorder().SetTimeSource(failing);
    form->Recorder().RecordPicture(instant);
  });
  form->Generator().Command20_Click();
  ASSERT_EQ(boxes.Calls().size(), 3u);
  EXPECT_EQ(boxes.Calls()[2].text, kError);
  form->Recorder().SetTimeSource(*sim_);
}

TEST_F(RecordingTest, FilterGraphPicturesInBothFormatsHaveThePanelSizeAndTheStamp) {
  FilterGraphOn();
  for (bool jpeg : {false, true}) {
    SCOPED_TRACE(jpeg ? "jpg" : "bmp");
    (jpeg ? form->Option10 : form->Option9)->setChecked(true);
    sim_->Advance(1000 * SimulatedTime::kMs);  // a run folder of its own
    stamps_.clear();
    RunClock(1);
    ASSERT_TRUE(boxes.Calls().empty());
    const QString file = form->Recorder().Names().PictureFolder +
                         (jpeg ? QStringLiteral("/1.jpg") : QStringLiteral("/1.bmp"));
    const QImage picture(file);
    ASSERT_FALSE(picture.isNull()) << file.toStdString();
    EXPECT_EQ(picture.size(), PictureWindow().Picture2->contentsRect().size());
    const double difference = MeanDifference(picture.copy(0, 0, 200, 50), stamps_[0]);
    EXPECT_LT(difference, jpeg ? 8.0 : 0.01);
    // The picture window shows the picture once it is written, and the status line says so.
    if (!jpeg) {
      EXPECT_EQ(Rgb(picture), Rgb(PictureWindow().Picture2->Image()));
    }
    EXPECT_EQ(form->Label1->text(), kSnapped);
  }
}

// A picture answered from what the camera gave before it failed says nothing of the camera now:
// the camera's error stays on the status line.
TEST_F(RecordingTest, APictureWrittenAfterACameraErrorLeavesTheErrorOnTheStatusLine) {
  FilterGraphOn();
  const QString failed = camera::CameraErrorText(QStringLiteral("камера отключена"));
  RecordWith([this, failed](const generator::Instant& instant) {
    form->Recorder().RecordPicture(instant);
    form->Label1->setText(failed);  // the camera fails while the picture waits to be written
    QMetaObject::invokeMethod(form->Command4, &QPushButton::click, Qt::QueuedConnection);
  });
  form->Option5->setChecked(true);
  form->Check2->setChecked(true);
  form->Generator().Command20_Click();
  Written();
  ASSERT_TRUE(boxes.Calls().empty());
  ASSERT_EQ(form->Recorder().LoggedRows(), 1);
  EXPECT_EQ(form->Label1->text(), failed);
}

// Where the dark pixels of one band of rows of a saved stamp lie: anything clearly off the
// panel's background counts as ink.
struct Ink {
  QRect box;
  bool anyOnRightEdge = false;
};
Ink InkOf(const QImage& stamp, const QColor& background, int top, int bottom) {
  Ink ink;
  for (int y = top; y < bottom; ++y) {
    for (int x = 0; x < stamp.width(); ++x) {
      const QColor pixel = stamp.pixelColor(x, y);
      const int off = std::max({std::abs(pixel.red() - background.red()),
                                std::abs(pixel.green() - background.green()),
                                std::abs(pixel.blue() - background.blue())});
      if (off < 64) continue;
      ink.box |= QRect(x, y, 1, 1);
      if (x == stamp.width() - 1) ink.anyOnRightEdge = true;
    }
  }
  return ink;
}

TEST_F(RecordingTest, StampLinesReadWholeForTheLongestValuesUnderEachLocale) {
  // The face the stamp was designed for, or one with its widths; not a fallback.
  EXPECT_EQ(QFontInfo(PictureWindow().Picture1->font()).family(),
            QStringLiteral("Liberation Sans"));
  CaptureWindowOn();
  // 23:58:58 on the 28th: the widest digits of a date and a time, and PM in English.
  sim_->Advance((QDateTime(QDate(2026, 12, 6), QTime(14, 5, 9))
                     .msecsTo(QDateTime(QDate(2026, 12, 28), QTime(23, 58, 58)))) *
                SimulatedTime::kMs);
  form->Recorder().CreatePictureFolder(std::nullopt);
  const QColor background = PictureWindow().Picture1->BackColor();
  auto record = [&](std::int32_t number, double seconds) {
    generator::Instant instant;
    instant.number = number;
    instant.numberText = QString::number(number);
    instant.sinceT0Text = forms::FormatGeneral(seconds);
    instant.dateTime = sim_->Now();
    form->Recorder().RecordPicture(instant);
    Written();
    return Rgb(QImage(form->Recorder().Names().PictureFolder +
                      QStringLiteral("/%1.bmp").arg(number)))
        .copy(recording::kStampRegion);
  };
  const QImage shortest = record(1, 0.5);
  const QImage longest = record(99999, 99999.999);
  ASSERT_TRUE(boxes.Calls().empty()) << boxes.Calls()[0].text.toStdString();
  ASSERT_EQ(longest.size(), QSize(200, 50));
  int line2Right[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    const QImage& stamp = i == 0 ? shortest : longest;
    SCOPED_TRACE(i == 0 ? "N=1, dT=0.5" : "N=99999, dT=99999.999");
    for (int band = 0; band < 2; ++band) {
      SCOPED_TRACE(band == 0 ? "line 1" : "line 2");
      const Ink ink = InkOf(stamp, background, band * 25, band * 25 + 25);
      ASSERT_FALSE(ink.box.isEmpty());
      EXPECT_FALSE(ink.anyOnRightEdge);
      EXPECT_GE(ink.box.left(), 2);
      EXPECT_LE(ink.box.right(), 196) << "a glyph reaches the stamp's right edge";
      EXPECT_GE(ink.box.height(), 8) << "shrunk past legibility";
      if (band == 1) {
        EXPECT_LE(ink.box.bottom(), 47);
        line2Right[i] = ink.box.right();
      }
    }
    // The stamp's last columns and rows are the panel's background, not black.
    EXPECT_TRUE(InkOf(stamp.copy(197, 0, 3, 50), background, 0, 50).box.isEmpty());
    EXPECT_TRUE(InkOf(stamp.copy(0, 48, 200, 2), background, 0, 2).box.isEmpty());
  }
  // Eight more digits on line 2 take room: a line cut at the edge would not grow.
  EXPECT_GT(line2Right[1], line2Right[0] + 40);
}

TEST_F(RecordingTest, CaptureWindowFrameSmallerThanThePanelSitsTopLeftUnderTheStamp) {
  CaptureWindowOn();
  auto* window =
      static_cast<capture::CaptureWindow*>(capture::WindowOf(form->CameraState().CaptureWindow));
  const gst::CameraFormat* small = window->Pipeline().Camera().Find(true, 320, 240);
  ASSERT_TRUE(small);
  ASSERT_TRUE(window->Pipeline().ChangeFormat(*small));
  ASSERT_TRUE(WaitFor(
      [&] { return window->FrameBuffer() && window->FrameBuffer()->Width() == 320; }, 5000));
  form->Check2->setChecked(true);
  form->Generator().Command20_Click();  // Timer 1 mode: one recording per tick
  form->Generator().Timer1_Timer();
  Written();
  ASSERT_TRUE(boxes.Calls().empty());
  const QImage picture =
      Rgb(QImage(form->Recorder().Names().PictureFolder + QStringLiteral("/0.bmp")));
  // The frame, unscaled, below the stamp. The window's frame is read after the picture was
  // written: the camera may have moved on by a frame, a grey level or so.
  const QImage frame = Rgb(window->FrameBuffer()->Image());
  const QRect below(0, 50, 320, 190);
  EXPECT_LT(MeanDifference(picture.copy(below), frame.copy(below)), 3);
  const QRgb background = PictureWindow().Picture2->BackColor().rgb();
  EXPECT_EQ(picture.pixel(330, 10), background);
  EXPECT_EQ(picture.pixel(600, 400), background);
  EXPECT_EQ(picture.copy(0, 0, 200, 50),
            Rgb(PictureWindow().Picture1->Image().copy(0, 0, 200, 50)));
}

TEST_F(RecordingTest, FilterGraphSnapshotsJpegAtCameraSizeBmpAtPanelSize) {
  FilterGraphOn(0);
  form->Check3->setChecked(true);
  QTest::mouseClick(form->Command19, Qt::LeftButton);  // jpg is chosen with DirectShow
  Written();
  ASSERT_TRUE(boxes.Calls().empty());
  EXPECT_TRUE(PictureWindow().isVisible());
  EXPECT_EQ(form->Label1->text(), kSnapped);
  const QString jpg = Folder("SnapShot/06_12_2026_14_05_09.jpg");
  EXPECT_EQ(form->Recorder().Names().OutputFileName, jpg);
  EXPECT_EQ(QImage(jpg).size(), QSize(640, 480));
  QTest::mouseClick(form->Command19, Qt::LeftButton);  // the same second: replaced
  Written();
  EXPECT_EQ(Entries(Folder("SnapShot")), QStringList{QStringLiteral("06_12_2026_14_05_09.jpg")});

  form->Option9->setChecked(true);
  QTest::mouseClick(form->Command19, Qt::LeftButton);
  Written();
  const QImage bmp(Folder("SnapShot/06_12_2026_14_05_09.bmp"));
  EXPECT_EQ(bmp.size(), PictureWindow().Picture2->contentsRect().size());

  // Without its folder the snapshot says so.
  ASSERT_TRUE(QDir(Folder("SnapShot")).removeRecursively());
  QTest::mouseClick(form->Command19, Qt::LeftButton);
  Written();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kWriteError);
  EXPECT_EQ(boxes.Calls()[0].title, QStringLiteral("WebCam"));
  // The preview goes on after every grab.
  std::int32_t state = -1;
  form->CameraState().FilterGraph->GetState(1000, &state);
  EXPECT_EQ(state, graph::State_Running);
}

TEST_F(RecordingTest, CaptureWindowSnapshotIsTheFrameAsBmpAndFailsSilentlyWithoutItsFolder) {
  CaptureWindowOn();
  QTest::mouseClick(form->Command19, Qt::LeftButton);
  const QImage snap(Folder("SnapShot/06_12_2026_14_05_09.bmp"));
  EXPECT_EQ(snap.size(), QSize(640, 480));
  auto* window =
      static_cast<capture::CaptureWindow*>(capture::WindowOf(form->CameraState().CaptureWindow));
  EXPECT_TRUE(window->Live());  // previewing again
  ASSERT_TRUE(QDir(Folder("SnapShot")).removeRecursively());
  QTest::mouseClick(form->Command19, Qt::LeftButton);
  EXPECT_TRUE(boxes.Calls().empty());
  EXPECT_FALSE(QDir(Folder("SnapShot")).exists());
  // No camera at all: no file, no message either.
  QTest::mouseClick(form->Command13, Qt::LeftButton);
  QDir(ProgramFolder()).mkdir(QStringLiteral("SnapShot"));
  QTest::mouseClick(form->Command19, Qt::LeftButton);
  EXPECT_TRUE(boxes.Calls().empty());
  EXPECT_TRUE(Entries(Folder("SnapShot")).isEmpty());
}

TEST_F(RecordingTest, ARunFolderRemovedDuringTheRunEndsTheClockButNotTheTone) {
  CaptureWindowOn();
  form->Option5->setChecked(true);
  form->Check2->setChecked(true);
  int calls = 0;
  RecordWith([&](const generator::Instant& instant) {
    // The writer's thread may be writing the run's record into it meanwhile: removed until gone.
    if (++calls == 2 && !form->Recorder().Names().PictureFolder.isEmpty()) {
      QDir folder(form->Recorder().Names().PictureFolder);
      for (int tries = 0; tries < 100 && folder.exists(); ++tries)
        if (!folder.removeRecursively()) QThread::msleep(10);
    }
    form->Recorder().RecordPicture(instant);
  });
  form->Generator().Command20_Click();  // returns when the clock has ended
  // The second picture fails in the writer; the clock ends at the pass its report reaches.
  EXPECT_GE(calls, 2);
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);
  EXPECT_TRUE(Entries(Folder("Risunki")).isEmpty());  // nothing half-written anywhere
  auto* window =
      static_cast<capture::CaptureWindow*>(capture::WindowOf(form->CameraState().CaptureWindow));
  EXPECT_TRUE(window->Live());
}

// The disk fills up in the middle of a clock run: the picture that does not fit fails in the
// writer, the clock ends with the general message once, the tone plays on, and no picture after
// the failed one is written although its space was freed again.
TEST_F(RecordingTest, ADiskFullInTheMiddleOfARunEndsTheClockOnceAndWritesNothingAfterIt) {
  testing_support::SmallDisk disk(Folder("Risunki"), 4);  // four pictures and the log
  if (!disk.Mounted()) GTEST_SKIP() << "no small file system to fill: " << disk.Why().toStdString();
  CaptureWindowOn();
  form->Option5->setChecked(true);
  form->Check2->setChecked(true);
  int calls = 0;
  RecordWith([&](const generator::Instant& instant) {
    ++calls;
    form->Recorder().RecordPicture(instant);
    RunEventsFor(40);  // the camera and the writer move on between simulated instants
  });
  form->Generator().Command20_Click();  // returns when the clock has ended
  Written();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);
  const QString folder = form->Recorder().Names().PictureFolder;
  EXPECT_EQ(Entries(folder),
            (QStringList{"1.bmp", "2.bmp", "3.bmp", "4.bmp", "log.csv", "run.json"}));
  EXPECT_GE(calls, 5);
  QFile log(folder + QStringLiteral("/log.csv"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> rows = log.readAll().trimmed().split('\n');
  ASSERT_EQ(rows.size(), calls + 1);  // every instant has its row
  EXPECT_TRUE(rows[5].contains(qt_error_string(ENOSPC).toUtf8())) << rows[5].toStdString();
  // An instant the clock reached before the failure's report did: its row's error column.
  for (int i = 6; i <= calls; ++i)
    EXPECT_TRUE(rows[i].contains(",not written: picture 5 of the run could not be written,"))
        << rows[i].toStdString();
  form->Generator().Command4_Click();  // the run ends while its disk is there
  Written();
  EXPECT_EQ(boxes.Calls().size(), 1u);
}

// A picture the writer cannot write (its run folder gone) in the Timer 1 mode: one message, the
// timer stops, the tone plays on. A failure of a run that has been followed by another fails
// only its own: the next run goes on.
TEST_F(RecordingTest, AWriterFailureEndsOnlyItsOwnRunInTheTimerMode) {
  CaptureWindowOn();
  form->Check2->setChecked(true);
  form->Generator().Command20_Click();
  ASSERT_TRUE(form->Timer1->isActive());
  // The run's record is written by the writer's thread: the folder goes once it is there.
  form->Recorder().WaitUntilWritten();
  ASSERT_TRUE(QDir(form->Recorder().Names().PictureFolder).removeRecursively());
  form->Generator().Timer1_Timer();  // queued: the tick itself succeeds
  EXPECT_TRUE(boxes.Calls().empty());
  Written();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);

  // Again, but the run is stopped and the next one started before the report comes.
  form->Generator().Command4_Click();
  sim_->Advance(1000 * SimulatedTime::kMs);
  form->Generator().Command20_Click();
  ASSERT_TRUE(QDir(form->Recorder().Names().PictureFolder).removeRecursively());
  form->Generator().Timer1_Timer();
  form->Generator().Command4_Click();
  sim_->Advance(1000 * SimulatedTime::kMs);
  form->Generator().Command20_Click();
  ASSERT_TRUE(form->Timer1->isActive());
  Written();
  EXPECT_EQ(boxes.Calls().size(), 1u);
  EXPECT_TRUE(form->Timer1->isActive());
  form->Generator().Timer1_Timer();
  Written();
  EXPECT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(Entries(form->Recorder().Names().PictureFolder),
            (QStringList{"0.bmp", "log.csv", "run.json"}));
}

TEST_F(RecordingTest, ACameraSwitchedOffDuringAFilterGraphRunEndsTheRecording) {
  FilterGraphOn();
  form->Check2->setChecked(true);
  form->Generator().Command20_Click();
  form->Generator().Timer1_Timer();
  ASSERT_TRUE(boxes.Calls().empty());
  QTest::mouseClick(form->Command13, Qt::LeftButton);
  form->Generator().Timer1_Timer();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);
}

// Real time, end to end: 3 s at 10/1 Hz with NC0 = 5 make about six pictures, and the tone
// stays one unbroken loop of its buffer while they are written.
struct EndToEnd {
  const char* name;
  bool graph;
  bool jpeg;
};

class EndToEndTest : public testing_support::RecordingWindowFixture,
                     public ::testing::WithParamInterface<EndToEnd> {};

TEST_P(EndToEndTest, ThreeSecondsMakeSixStampedPicturesAndAnUnbrokenTone) {
  VirtualCameras cameras;
  const EndToEnd param = GetParam();
  if (param.graph) {
    form->Option8->click();
    QTest::mouseClick(form->Command11, Qt::LeftButton);
    testing_support::ClickListRow(form->Combo2, 1);
    (param.jpeg ? form->Option10 : form->Option9)->setChecked(true);
  } else {
    QTest::mouseClick(form->Command11, Qt::LeftButton);
  }
  ASSERT_EQ(form->CameraOn(), 1);
  RunEventsFor(300);
  ChooseVirtualDevice();
  form->Option5->setChecked(true);
  form->Check2->setChecked(true);
  form->Check3->setChecked(true);
  form->Text4->setText(QStringLiteral("10"));
  form->Text27->setText(QStringLiteral("2"));
  form->Text7->setText(QStringLiteral("5"));
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer::singleShot(3000, form->Command4, &QPushButton::click);
  form->Generator().Command20_Click();
  form->Recorder().WaitUntilWritten();
  EXPECT_TRUE(boxes.Calls().empty());
  const QStringList files =
      QDir(form->Recorder().Names().PictureFolder)
          .entryList(QStringList{QStringLiteral("*.bmp"), QStringLiteral("*.jpg")}, QDir::Files,
                     QDir::Name);
  EXPECT_TRUE(QFile::exists(form->Recorder().Names().PictureFolder + QStringLiteral("/log.csv")));
  EXPECT_TRUE(QFile::exists(form->Recorder().Names().PictureFolder + QStringLiteral("/phase.png")));
  EXPECT_GE(files.size(), 5);
  EXPECT_LE(files.size(), 7);
  const QString extension = param.jpeg ? QStringLiteral(".jpg") : QStringLiteral(".bmp");
  QImage previous_stamp;
  for (int n = 1; n <= files.size(); ++n) {
    const QImage picture(form->Recorder().Names().PictureFolder +
                         QStringLiteral("/%1%2").arg(n).arg(extension));
    ASSERT_FALSE(picture.isNull()) << n;
    const QImage stamp = Rgb(picture.copy(0, 0, 200, 50));
    if (n > 1) {
      EXPECT_GT(MeanDifference(stamp, previous_stamp), 0.5) << "stamp " << n;
    }
    previous_stamp = stamp;
  }
  wave::WaitForReleases();  // the header has its final sizes
  const testing_support::WavContent wav = testing_support::ReadWav(WavPath());
  ASSERT_TRUE(wav.valid);
  EXPECT_GE(wav.samples.size(), static_cast<size_t>(2.5 * 48000));
  const std::vector<std::int16_t>& buffer = form->Gen().Buffer1;
  for (size_t k = 0; k < wav.samples.size(); ++k)
    ASSERT_EQ(wav.samples[k], buffer[k % buffer.size()]) << "sample " << k;
}

INSTANTIATE_TEST_SUITE_P(BackEnds, EndToEndTest,
                         ::testing::Values(EndToEnd{"CaptureWindowBmp", false, false},
                                           EndToEnd{"FilterGraphBmp", true, false},
                                           EndToEnd{"FilterGraphJpeg", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

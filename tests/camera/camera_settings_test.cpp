// The camera settings commands and the video recording, from the main window with the test
// cameras; dialogs are answered through the replaceable dialog function.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <optional>

#include "platform/capture/capture_window.h"
#include "platform/forms/dialog.h"
#include "platform/gst/format_dialog.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/avi_file.h"
#include "tests/support/camera_support.h"
#include "tests/support/camera_switch.h"
#include "tests/support/gst_leak_check.h"
#include "tests/support/recording_fixture.h"
#include "tests/support/video_support.h"

namespace {

using testing_support::AviInfo;
using testing_support::Luminance;
using testing_support::RunEventsFor;
using testing_support::VirtualCameras;
using testing_support::WaitFor;

const QString kError = QStringLiteral("Ошибка в работе программы");

QString VideoFailure(const QString& reason) {
  return QStringLiteral(" Video capture failed: ") + reason;
}

class CameraSettingsTest : public testing_support::RecordingWindowFixture {
 protected:
  void TearDown() override {
    forms::SetDialogFunction({});
    testing_support::RecordingWindowFixture::TearDown();
  }
  capture::CaptureWindow* Window() {
    return static_cast<capture::CaptureWindow*>(
        capture::WindowOf(form->CameraState().CaptureWindow));
  }
  void CaptureWindowOn() { testing_support::CaptureWindowOn(*form); }
  void FilterGraphOn(int row) { testing_support::FilterGraphOn(*form, row); }
  // Answers the next dialogs: `answer` looks at the dialog and returns its result.
  void AnswerDialogs(const std::function<int(QDialog&)>& answer) {
    dialogs_ = 0;
    forms::SetDialogFunction([this, answer](QDialog& dialog) {
      ++dialogs_;
      return answer(dialog);
    });
  }
  static int ChooseFormat(QDialog& dialog, const char* format, int width, int height) {
    auto* formats = dynamic_cast<gst::FormatDialog*>(&dialog);
    if (!formats || !formats->Select(QString::fromLatin1(format), width, height, {30, 1}))
      return QDialog::Rejected;
    return QDialog::Accepted;
  }
  QString Video() const { return QDir(ProgramFolder()).filePath(QStringLiteral("Video")); }
  // The stopped recordings' files are finished behind the stop.
  bool VideoFinished() { return testing_support::WaitForFinishedFiles(Window()->Recorder()); }

  VirtualCameras cameras_;
  int dialogs_ = 0;
};

TEST_F(CameraSettingsTest, FrameRateSetsThePreviewIntervalFromText40) {
  CaptureWindowOn();
  struct Row {
    const char* text;
    int interval;
  };
  for (const Row& row : {Row{"24", 41}, Row{"25", 40}, Row{"30", 33}, Row{"15", 66}, Row{"2000", 0},
                         Row{"-24", -41}}) {
    SCOPED_TRACE(row.text);
    form->Text40->setText(QString::fromLatin1(row.text));
    QTest::mouseClick(form->Command22, Qt::LeftButton);
    EXPECT_EQ(form->CameraState().LastCapResult, QString::fromLatin1(row.text).toInt());
    EXPECT_EQ(Window()->Interval(), row.interval);
  }
  // A rate of 0, or no number at all: the message, and the interval stays.
  for (const char* bad : {"0", "abc", "99999999999"}) {
    SCOPED_TRACE(bad);
    form->Text40->setText(QString::fromLatin1(bad));
    QTest::mouseClick(form->Command22, Qt::LeftButton);
    EXPECT_EQ(Window()->Interval(), -41);
  }
  ASSERT_EQ(boxes.Calls().size(), 3u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
  EXPECT_EQ(boxes.Calls()[0].title, QStringLiteral("WebCam"));
}

TEST_F(CameraSettingsTest, CaptureWindowFormatDialogReconnectsInTheChosenRawSize) {
  CaptureWindowOn();
  AnswerDialogs([](QDialog& dialog) {
    // The connected camera's formats, each at each of its rates: 640 x 480 and 320 x 240 at
    // 60, 30, 29.97 and 15 fps, 1280 x 720 at 10 and 5, 1920 x 1080 at 5.
    auto* formats = dynamic_cast<gst::FormatDialog*>(&dialog);
    EXPECT_TRUE(formats);
    EXPECT_EQ(formats ? formats->List()->count() : 0, 11);
    return ChooseFormat(dialog, "YUY2", 320, 240);
  });
  QTest::mouseClick(form->Command12, Qt::LeftButton);
  EXPECT_EQ(dialogs_, 1);
  EXPECT_EQ(form->CameraState().LastCapResult, 1);
  ASSERT_TRUE(WaitFor([&] { return Window()->FrameBuffer()->Width() == 320; }, 5000));
  EXPECT_EQ(Window()->FrameBuffer()->Height(), 240);
  EXPECT_TRUE(Window()->Live());
  AnswerDialogs([](QDialog&) { return QDialog::Rejected; });
  QTest::mouseClick(form->Command12, Qt::LeftButton);
  EXPECT_EQ(form->CameraState().LastCapResult, 0);
  RunEventsFor(100);
  EXPECT_EQ(Window()->FrameBuffer()->Width(), 320);
}

TEST_F(CameraSettingsTest, FilterGraphFormatDialogRebuildsThePreviewInTheChosenFormat) {
  FilterGraphOn(1);  // the MJPEG camera: its pin offers JPEG and YUY2
  const auto before = form->CameraState().FilterGraph->Filters().size();
  AnswerDialogs([&](QDialog& dialog) {
    EXPECT_EQ(form->CameraState().VideoWindow->Visible(),
              graph::OAFALSE);  // hidden while it is open
    return ChooseFormat(dialog, "MJPEG", 320, 240);
  });
  form->Shape1->setVisible(false);
  QTest::mouseClick(form->Command12, Qt::LeftButton);
  EXPECT_EQ(dialogs_, 1);
  EXPECT_EQ(form->Label1->text(), QStringLiteral(" Previewing camera"));
  EXPECT_TRUE(form->Shape1->isVisibleTo(form->Picture1));
  EXPECT_EQ(form->CameraOn(), 1);
  EXPECT_EQ(form->CameraState().FilterGraph->Filters().size(),
            before + 1);  // one more AVI Decompressor
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto frame = form->CameraState().FilterGraph->Camera()->LatestFrame();
        return frame && frame->Width() == 320;
      },
      5000));
  std::int32_t size = 0;
  ASSERT_EQ(form->CameraState().BasicVideo->GetCurrentImage(&size, nullptr), graph::S_OK);
  EXPECT_EQ(size, 40 + 960 * 240);

  // Switched off: no graph to set a format for, and the properties of the last camera say in
  // Russian that it is off (this camera has no device to open without its graph).
  QTest::mouseClick(form->Command13, Qt::LeftButton);
  QString said;
  AnswerDialogs([&](QDialog& dialog) {
    if (auto* label = dialog.findChild<QLabel*>(QStringLiteral("NoControls"))) said = label->text();
    return QDialog::Rejected;
  });
  QTest::mouseClick(form->Command12, Qt::LeftButton);
  EXPECT_EQ(dialogs_, 0);
  QTest::mouseClick(form->Command15, Qt::LeftButton);
  EXPECT_EQ(dialogs_, 1);
  EXPECT_TRUE(said.startsWith(QStringLiteral("Камера отключена."))) << said.toStdString();
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(CameraSettingsTest, PropertiesChangeTheCameraLiveWhileTheGraphRuns) {
  FilterGraphOn(0);
  const double before =
      Luminance(form->CameraState().FilterGraph->Camera()->LatestFrame()->Image());
  std::uint64_t frame_seen = 0;
  AnswerDialogs([&](QDialog& dialog) {
    auto* brightness = dialog.findChild<QSlider*>(QStringLiteral("Brightness"));
    EXPECT_TRUE(brightness);
    if (!brightness) return QDialog::Rejected;
    brightness->setValue(brightness->maximum());
    // The graph keeps running with the dialog open, and shows the change at once.
    const std::uint64_t frames = form->CameraState().FilterGraph->Camera()->FrameCount();
    EXPECT_TRUE(WaitFor(
        [&] { return form->CameraState().FilterGraph->Camera()->FrameCount() > frames + 2; },
        5000));
    frame_seen = form->CameraState().FilterGraph->Camera()->LatestFrame()->Number();
    return QDialog::Accepted;
  });
  QTest::mouseClick(form->Command15, Qt::LeftButton);
  EXPECT_EQ(dialogs_, 1);
  ASSERT_TRUE(WaitFor(
      [&] {
        return form->CameraState().FilterGraph->Camera()->LatestFrame()->Number() > frame_seen;
      },
      5000));
  const double after = Luminance(form->CameraState().FilterGraph->Camera()->LatestFrame()->Image());
  EXPECT_GT(after, before + 40) << before << " -> " << after;
}

TEST_F(CameraSettingsTest, CaptureWindowSourceDialogShowsTheControlsAndSwitchesCamera) {
  CaptureWindowOn();
  AnswerDialogs([](QDialog& dialog) {
    auto* camera = dialog.findChild<QComboBox*>(QStringLiteral("Camera"));
    EXPECT_TRUE(camera && dialog.findChild<QSlider*>(QStringLiteral("Contrast")));
    if (!camera) return QDialog::Rejected;
    EXPECT_EQ(camera->count(), 2);
    camera->setCurrentIndex(1);
    return QDialog::Accepted;
  });
  QTest::mouseClick(form->Command15, Qt::LeftButton);
  EXPECT_EQ(form->CameraState().LastCapResult, 1);
  EXPECT_EQ(Window()->Pipeline().Camera().name, QLatin1String(gst::kTestCameraMjpeg));
  EXPECT_TRUE(WaitFor([&] { return Window()->ShownCount() > 0 && Window()->Live(); }, 5000));
}

TEST_F(CameraSettingsTest, CompressionBeforeAnySwitchOnDoesNothing) {
  AnswerDialogs([](QDialog&) { return QDialog::Accepted; });
  QTest::mouseClick(form->Command2, Qt::LeftButton);
  form->Option8->click();
  QTest::mouseClick(form->Command2, Qt::LeftButton);
  EXPECT_EQ(dialogs_, 0);
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(CameraSettingsTest, SequenceSetupKeepsTheDriversValuesButYieldAndAudio) {
  CaptureWindowOn();
  capture::CAPTUREPARMS driver{};
  ASSERT_EQ(
      capture::SendMessageA(form->CameraState().CaptureWindow, capture::WM_CAP_GET_SEQUENCE_SETUP,
                            96, reinterpret_cast<capture::LPARAM>(&driver)),
      TRUE);
  EXPECT_EQ(driver.dwRequestMicroSecPerFrame, 33333u);  // the camera's 30 frames a second
  EXPECT_EQ(
      capture::SendMessageA(form->CameraState().CaptureWindow, capture::WM_CAP_GET_SEQUENCE_SETUP,
                            95, reinterpret_cast<capture::LPARAM>(&driver)),
      FALSE);  // a record too small is not written
  QTest::mouseClick(form->Command24, Qt::LeftButton);
  capture::CAPTUREPARMS used{};
  capture::SendMessageA(form->CameraState().CaptureWindow, capture::WM_CAP_GET_SEQUENCE_SETUP, 96,
                        reinterpret_cast<capture::LPARAM>(&used));
  QTest::mouseClick(form->Command1, Qt::LeftButton);
  EXPECT_EQ(used.fYield, 1);
  EXPECT_EQ(used.fCaptureAudio, 0);
  used.fYield = driver.fYield;
  EXPECT_EQ(std::memcmp(&used, &driver, sizeof used), 0);
}

TEST_F(CameraSettingsTest, ThreeSecondRecordingsAreCompleteAvisInBothCompressions) {
  CaptureWindowOn();
  for (bool motion_jpeg : {false, true}) {
    SCOPED_TRACE(motion_jpeg ? "Motion JPEG" : "full frames");
    if (motion_jpeg) {
      AnswerDialogs([](QDialog& dialog) {
        auto* compressor = dialog.findChild<QComboBox*>(QStringLiteral("Compressor"));
        if (!compressor) return QDialog::Rejected;
        compressor->setCurrentIndex(1);
        dialog.findChild<QSpinBox*>(QStringLiteral("Quality"))->setValue(80);
        return QDialog::Accepted;
      });
      QTest::mouseClick(form->Command2, Qt::LeftButton);
      ASSERT_TRUE(Window()->MotionJpeg());
    }
    QTest::mouseClick(form->Command24, Qt::LeftButton);
    EXPECT_FALSE(form->Timer2->isActive());  // the clock display stands still
    const QString file = form->Recorder().Names().OutputFileName + QStringLiteral(".avi");
    EXPECT_TRUE(file.startsWith(Video() + QStringLiteral("/")));
    RunEventsFor(3000);
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    EXPECT_TRUE(form->Timer2->isActive());
    EXPECT_FALSE(Window()->Recorder().Recording());
    ASSERT_TRUE(VideoFinished());
    const AviInfo avi = testing_support::ReadAvi(file);
    ASSERT_TRUE(avi.valid) << file.toStdString();
    EXPECT_EQ(avi.videoStreams, 1);
    EXPECT_EQ(avi.audioStreams, 0);
    EXPECT_EQ(avi.microSecPerFrame, 33333u);
    EXPECT_NEAR(avi.totalFrames, 90, 6);
    EXPECT_NEAR(avi.Seconds(), 3.0, 0.2);
    EXPECT_EQ(avi.idx1Entries, avi.totalFrames);
    EXPECT_EQ(avi.width, 640);
    EXPECT_EQ(avi.videoHandler, motion_jpeg ? QStringLiteral("MJPG") : QStringLiteral("YUY2"));
    RunEventsFor(1100);  // the next file gets a name of its own second
  }
  EXPECT_TRUE(boxes.Calls().empty());
}

// Changing the format or the camera ends a recording as the stop button would, and says so.
TEST_F(CameraSettingsTest, AFormatOrCameraChangeEndsTheRecordingWithItsIndexAndSaysWhy) {
  CaptureWindowOn();
  form->Label1->setText(VideoFailure(QStringLiteral("камера не включена")));
  QTest::mouseClick(form->Command24, Qt::LeftButton);
  EXPECT_TRUE(form->Label1->text().isEmpty());  // the start succeeded: the old failure is gone
  const QString first = form->Recorder().Names().OutputFileName + QStringLiteral(".avi");
  RunEventsFor(700);
  // OK on the format that runs changes nothing.
  AnswerDialogs([](QDialog& dialog) { return ChooseFormat(dialog, "YUY2", 640, 480); });
  QTest::mouseClick(form->Command12, Qt::LeftButton);
  EXPECT_TRUE(Window()->Recorder().Recording());
  EXPECT_TRUE(form->Label1->text().isEmpty());
  RunEventsFor(800);
  AnswerDialogs([](QDialog& dialog) { return ChooseFormat(dialog, "YUY2", 320, 240); });
  QTest::mouseClick(form->Command12, Qt::LeftButton);
  EXPECT_FALSE(Window()->Recorder().Recording());
  EXPECT_EQ(form->Label1->text(), VideoFailure(QStringLiteral("изменён формат изображения")));
  EXPECT_TRUE(form->Timer2->isActive());
  ASSERT_TRUE(VideoFinished());
  AviInfo avi = testing_support::ReadAvi(first);
  EXPECT_TRUE(avi.valid && avi.hasIndex && avi.width == 640) << first.toStdString();
  EXPECT_NEAR(avi.Seconds(), 1.5, 0.4);

  RunEventsFor(1100);  // a name of its own second
  QTest::mouseClick(form->Command24, Qt::LeftButton);
  EXPECT_TRUE(form->Label1->text().isEmpty());
  const QString second = form->Recorder().Names().OutputFileName + QStringLiteral(".avi");
  RunEventsFor(1000);
  AnswerDialogs([](QDialog& dialog) {
    auto* camera = dialog.findChild<QComboBox*>(QStringLiteral("Camera"));
    if (!camera) return QDialog::Rejected;
    camera->setCurrentIndex(1 - camera->currentIndex());
    return QDialog::Accepted;
  });
  QTest::mouseClick(form->Command15, Qt::LeftButton);
  EXPECT_FALSE(Window()->Recorder().Recording());
  EXPECT_EQ(form->Label1->text(), VideoFailure(QStringLiteral("выбрана другая камера")));
  EXPECT_TRUE(form->Timer2->isActive());
  ASSERT_TRUE(VideoFinished());
  avi = testing_support::ReadAvi(second);
  EXPECT_TRUE(avi.valid && avi.hasIndex && avi.width == 320) << second.toStdString();
  EXPECT_NEAR(avi.Seconds(), 1.0, 0.4);
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(CameraSettingsTest, StopWithoutARecordingStillEndsTheOtherRecordings) {
  ASSERT_EQ(form->Gen().StopRequested, 0);  // no run yet
  form->Timer1->start(100000);
  form->Timer2->stop();
  QTest::mouseClick(form->Command1, Qt::LeftButton);
  EXPECT_EQ(form->Gen().StopRequested, 1);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_TRUE(form->Timer2->isActive());
}

TEST_F(CameraSettingsTest, SwitchOffAndExitDuringARecordingLeavePlayableFiles) {
  CaptureWindowOn();
  QTest::mouseClick(form->Command24, Qt::LeftButton);
  const QString first = form->Recorder().Names().OutputFileName + QStringLiteral(".avi");
  RunEventsFor(1000);
  QTest::mouseClick(form->Command13, Qt::LeftButton);
  ASSERT_TRUE(VideoFinished());
  AviInfo avi = testing_support::ReadAvi(first);
  EXPECT_TRUE(avi.valid && avi.hasIndex && avi.totalFrames >= 20) << avi.totalFrames;

  RunEventsFor(1100);
  CaptureWindowOn();
  QTest::mouseClick(form->Command24, Qt::LeftButton);
  const QString second = form->Recorder().Names().OutputFileName + QStringLiteral(".avi");
  ASSERT_NE(first, second);
  RunEventsFor(1000);
  // The exit: the windows go as soon as the event loop has returned, and with them the
  // recorder, which finishes the file first.
  form->Exit();
  form.reset();
  avi = testing_support::ReadAvi(second);
  EXPECT_TRUE(avi.valid && avi.totalFrames >= 20) << avi.totalFrames;
  EXPECT_EQ(avi.idx1Entries, avi.totalFrames);
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 0);
}

// The stop button returns before the file is finished; a finish that fails afterwards still
// reaches the status line.
TEST_F(CameraSettingsTest, AFileThatCannotBeFinishedAfterTheStopButtonSaysSoInTheStatusLine) {
  CaptureWindowOn();
  QTest::mouseClick(form->Command24, Qt::LeftButton);
  const QString file = form->Recorder().Names().OutputFileName + QStringLiteral(".avi");
  RunEventsFor(500);
  testing_support::StalledFile disk(Window()->Recorder().Pipeline());
  QTest::mouseClick(form->Command1, Qt::LeftButton);
  EXPECT_FALSE(Window()->Recorder().Recording());
  EXPECT_TRUE(Window()->Recorder().Finishing());
  EXPECT_FALSE(form->Label1->text().startsWith(VideoFailure(QString())));
  ASSERT_TRUE(testing_support::BreakOpenFile(file));
  disk.Release();
  ASSERT_TRUE(VideoFinished());
  EXPECT_TRUE(form->Label1->text().startsWith(
      VideoFailure(QStringLiteral("не записан индекс видеофайла: "))))
      << form->Label1->text().toStdString();
  EXPECT_EQ(testing_support::ReadAvi(file).idx1Entries, 0u);
  EXPECT_TRUE(boxes.Calls().empty());
}

// A finish that fails while the next recording runs (started into another file right after
// the stop) only says so: the date and time display, stopped for the new recording, stays
// stopped. A start into the same file, whose wait finds the old finish failed, clears the old
// failure texts before that report, so the report stands.
TEST_F(CameraSettingsTest, AFinishFailingDuringTheNextRecordingOnlySaysSoInTheStatusLine) {
  CaptureWindowOn();
  const QString missing = VideoFailure(QStringLiteral("не записан индекс видеофайла: "));
  const QString first = QDir(Video()).filePath(QStringLiteral("first"));
  const QString second = QDir(Video()).filePath(QStringLiteral("second"));
  gst::VideoRecorder& recorder = Window()->Recorder();
  form->Camera().Command24_Click(first);
  RunEventsFor(500);
  std::optional<testing_support::StalledFile> disk(std::in_place, recorder.Pipeline());
  QTest::mouseClick(form->Command1, Qt::LeftButton);
  form->Camera().Command24_Click(second);
  ASSERT_TRUE(recorder.Recording());
  ASSERT_TRUE(recorder.Finishing());
  ASSERT_TRUE(testing_support::BreakOpenFile(first + QStringLiteral(".avi")));
  disk->Release();
  ASSERT_TRUE(VideoFinished());
  EXPECT_TRUE(form->Label1->text().startsWith(missing)) << form->Label1->text().toStdString();
  EXPECT_FALSE(form->Timer2->isActive());
  EXPECT_TRUE(recorder.Recording());
  const std::uint64_t written = recorder.FramesWritten();
  EXPECT_TRUE(WaitFor([&] { return recorder.FramesWritten() >= written + 5; }, 3000));

  disk.emplace(recorder.Pipeline());
  QTest::mouseClick(form->Command1, Qt::LeftButton);
  ASSERT_TRUE(testing_support::BreakOpenFile(second + QStringLiteral(".avi")));
  disk->Release();
  form->Camera().Command24_Click(second);
  EXPECT_TRUE(recorder.Recording());
  EXPECT_TRUE(form->Label1->text().startsWith(missing)) << form->Label1->text().toStdString();
  EXPECT_FALSE(form->Timer2->isActive());
  RunEventsFor(500);
  QTest::mouseClick(form->Command1, Qt::LeftButton);
  ASSERT_TRUE(VideoFinished());
  const AviInfo avi = testing_support::ReadAvi(second + QStringLiteral(".avi"));
  EXPECT_TRUE(avi.valid && avi.totalFrames > 0) << avi.totalFrames;
  EXPECT_EQ(avi.idx1Entries, avi.totalFrames);  // the new recording's file is complete
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(CameraSettingsTest, ARecordingThatCannotStartSaysWhyAndWritesNothing) {
  CaptureWindowOn();
  ASSERT_TRUE(QDir(Video()).removeRecursively());
  QTest::mouseClick(form->Command24, Qt::LeftButton);
  EXPECT_TRUE(form->Label1->text().startsWith(QStringLiteral(" Video capture failed: ")))
      << form->Label1->text().toStdString();
  EXPECT_FALSE(QDir(Video()).exists());
  EXPECT_FALSE(Window()->Recorder().Recording());
  EXPECT_TRUE(WaitFor([&] { return Window()->ShownCount() > 0; }, 1000));  // preview goes on
  QTest::mouseClick(form->Command13, Qt::LeftButton);
  form->Label1->clear();
  QDir(ProgramFolder()).mkdir(QStringLiteral("Video"));
  QTest::mouseClick(form->Command24, Qt::LeftButton);  // no driver any more
  EXPECT_TRUE(form->Label1->text().startsWith(QStringLiteral(" Video capture failed: ")));
  EXPECT_TRUE(QDir(Video()).isEmpty());
}

}  // namespace

namespace {

TEST_F(CameraSettingsTest, AWriteFailureDuringARecordingStopsItAndThePreviewGoesOn) {
  CaptureWindowOn();
  QTest::mouseClick(form->Command24, Qt::LeftButton);
  ASSERT_TRUE(Window()->Recorder().Recording());
  RunEventsFor(300);
  GstElement* pipeline = Window()->Recorder().Pipeline();
  const gst::ErrorPtr error(g_error_new_literal(
      GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NO_SPACE_LEFT, "No space left on the resource."));
  gst_element_post_message(pipeline,
                           gst_message_new_error(GST_OBJECT(pipeline), error.get(), nullptr));
  ASSERT_TRUE(WaitFor([&] { return !Window()->Recorder().Recording(); }, 5000));
  EXPECT_EQ(form->Label1->text(),
            QStringLiteral(" Video capture failed: No space left on the resource."));
  EXPECT_TRUE(Window()->Connected());
  const std::uint64_t shown = Window()->ShownCount();
  EXPECT_TRUE(WaitFor([&] { return Window()->ShownCount() > shown; }, 5000));
  EXPECT_TRUE(boxes.Calls().empty());
}

}  // namespace

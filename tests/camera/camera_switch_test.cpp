// Switching the camera on and off from the main window, in the capture-window back end, with
// the built-in test cameras; and the control states of the two back-end options.

#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <QDir>
#include <QSlider>
#include <QTest>
#include <optional>

#include "platform/capture/capture_window.h"
#include "platform/forms/runtime_error.h"
#include "platform/gst/camera_controls.h"
#include "platform/gst/camera_devices.h"
#include "platform/gst/camera_identity.h"
#include "platform/gst/controls_page.h"
#include "platform/gst/exposure_lock.h"
#include "platform/gst/gst_util.h"
#include "platform/gst/stored_controls.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/camera_support.h"
#include "tests/support/gst_leak_check.h"
#include "tests/support/recording_window.h"
#include "tests/support/state_access.h"
#include "tests/support/test_support.h"

namespace {

using Form1 = testing_support::RecordingWindow;  // the camera with what it needs
using testing_support::MessageBoxRecorder;
using testing_support::VirtualCameras;
using testing_support::WaitFor;

const QString kHeading = QStringLiteral(" Найден стандартный драйвер видеозазвата   \r\n\r\n");

capture::CaptureWindow* CaptureOf(const Form1& form) {
  return static_cast<capture::CaptureWindow*>(capture::WindowOf(form.CameraState().CaptureWindow));
}

bool Previewing(const Form1& form) {
  capture::CaptureWindow* window = CaptureOf(form);
  if (!window || !window->Connected()) return false;
  const std::uint64_t shown = window->ShownCount();
  return WaitFor([&] { return window->ShownCount() > shown; }, 5000);
}

class CameraSwitchTest : public ::testing::Test {
 protected:
  VirtualCameras cameras_;
  MessageBoxRecorder boxes_;
  Form1 form_;
};

TEST_F(CameraSwitchTest, SwitchOnListsTheDriversAndPreviewsOverPicture1) {
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  EXPECT_EQ(form_.CameraState().CameraInfo,
            kHeading +
                QStringLiteral("Test camera YUY2   -   Strobolux test camera driver 1.0\r\n") +
                QStringLiteral("Test camera MJPEG   -   Strobolux test camera driver 1.0\r\n"));
  EXPECT_EQ(form_.CameraOn(), 1);
  ASSERT_NE(form_.CameraState().CaptureWindow, 0);
  capture::CaptureWindow* window = CaptureOf(form_);
  EXPECT_EQ(window->parentWidget(), form_.Picture1);
  EXPECT_EQ(window->size(), QSize(640, 480));
  EXPECT_TRUE(window->isVisibleTo(form_.Picture1));
  EXPECT_EQ(window->Interval(), 33);
  EXPECT_TRUE(Previewing(form_));
  EXPECT_EQ(window->FrameBuffer()->Width(), 640);
  EXPECT_TRUE(boxes_.Calls().empty());
  EXPECT_EQ(form_.Label1->text(), QStringLiteral("Label1"));  // no status text of its own

  // A second switch-on is refused and changes nothing.
  const capture::HWND first = form_.CameraState().CaptureWindow;
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  ASSERT_EQ(boxes_.Calls().size(), 1u);
  EXPECT_EQ(boxes_.Calls()[0].text, QStringLiteral("Отключите уже включенную камеру"));
  EXPECT_EQ(boxes_.Calls()[0].title, QStringLiteral("WebCam"));
  EXPECT_EQ(form_.CameraState().CaptureWindow, first);

  // Off: the driver goes, the window stays; on again: a new window, the list anew.
  QTest::mouseClick(form_.Command13, Qt::LeftButton);
  EXPECT_EQ(form_.CameraState().LastCapResult, 1);
  EXPECT_EQ(form_.CameraOn(), 0);
  EXPECT_FALSE(window->Connected());
  EXPECT_EQ(capture::WindowOf(first), window);
  testing_support::WritableState(form_.Camera()).CameraInfo.clear();
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  EXPECT_NE(form_.CameraState().CaptureWindow, first);
  EXPECT_TRUE(
      form_.CameraState().CameraInfo.startsWith(kHeading + QStringLiteral("Test camera YUY2")));
  EXPECT_TRUE(Previewing(form_));
}

TEST_F(CameraSwitchTest, WithoutCamerasOnlyTheHeadingIsListedAndTheCameraStillCountsAsOn) {
  gst::ClearVirtualCameras();
  if (!gst::ListCameras().empty()) GTEST_SKIP() << "a real camera is attached";
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  EXPECT_EQ(form_.CameraState().CameraInfo, kHeading);
  EXPECT_EQ(form_.CameraOn(), 1);
  EXPECT_NE(form_.CameraState().CaptureWindow, 0);
  EXPECT_FALSE(CaptureOf(form_)->Connected());
  QTest::mouseClick(form_.Command13, Qt::LeftButton);
  EXPECT_EQ(form_.CameraState().LastCapResult, 0);  // nothing was connected
  EXPECT_EQ(form_.CameraOn(), 0);
  EXPECT_TRUE(boxes_.Calls().empty());
}

TEST_F(CameraSwitchTest, ASuccessfulSwitchOnClearsTheFailureTextsButNotTheStatusTexts) {
  QTest::mouseClick(form_.Command24, Qt::LeftButton);  // no capture window yet
  EXPECT_EQ(form_.Label1->text(), QStringLiteral(" Video capture failed: камера не включена"));
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  ASSERT_TRUE(Previewing(form_));
  EXPECT_TRUE(form_.Label1->text().isEmpty());

  GstElement* source = CaptureOf(form_)->Pipeline().Source();
  GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY, "Busy.");
  gst_element_post_message(source, gst_message_new_error(GST_OBJECT(source), error, nullptr));
  g_error_free(error);
  ASSERT_TRUE(WaitFor([&] { return form_.Label1->text().startsWith(" Camera error: "); }, 5000));
  QTest::mouseClick(form_.Command13, Qt::LeftButton);
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  ASSERT_TRUE(Previewing(form_));
  EXPECT_TRUE(form_.Label1->text().isEmpty());

  // A status text of the program's own, not a failure, stays.
  QTest::mouseClick(form_.Command13, Qt::LeftButton);
  form_.Option8->click();
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  ASSERT_EQ(form_.Label1->text(), QStringLiteral(" Ready for camera selection"));
  form_.Option7->click();
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  EXPECT_TRUE(Previewing(form_));
  EXPECT_EQ(form_.Label1->text(), QStringLiteral(" Ready for camera selection"));
  EXPECT_TRUE(boxes_.Calls().empty());
}

TEST_F(CameraSwitchTest, OptionsSetTheControlsOfTheirBackEndAndLeaveARunningCameraAlone) {
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  form_.Option8->click();
  EXPECT_FALSE(form_.Command1->isEnabled());
  EXPECT_FALSE(form_.Command22->isEnabled());
  EXPECT_FALSE(form_.Command24->isEnabled());
  EXPECT_TRUE(form_.Option10->isChecked());
  EXPECT_TRUE(form_.Option10->isEnabled());
  EXPECT_TRUE(form_.Combo2->isEnabled());
  EXPECT_EQ(form_.Combo2->currentText(), QStringLiteral("нажмите Включить вэбкамеру"));
  EXPECT_TRUE(form_.Shape1->isVisibleTo(form_.Picture1));
  EXPECT_EQ(form_.CameraOn(), 1);
  EXPECT_TRUE(Previewing(form_));

  form_.Option7->click();
  EXPECT_TRUE(form_.Command1->isEnabled());
  EXPECT_TRUE(form_.Command22->isEnabled());
  EXPECT_TRUE(form_.Command24->isEnabled());
  EXPECT_FALSE(form_.Option10->isChecked());
  EXPECT_FALSE(form_.Option10->isEnabled());
  EXPECT_TRUE(form_.Option9->isChecked());
  EXPECT_FALSE(form_.Combo2->isEnabled());
  EXPECT_FALSE(form_.Shape1->isVisibleTo(form_.Picture1));
  EXPECT_TRUE(Previewing(form_));
}

TEST_F(CameraSwitchTest, LaterOperationsFollowTheOptionSelectedThen) {
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  const capture::HWND first = form_.CameraState().CaptureWindow;
  capture::CaptureWindow* old_window = CaptureOf(form_);
  form_.Option8->click();
  testing_support::WritableState(form_.Camera()).LastCapResult = 77;
  QTest::mouseClick(form_.Command13, Qt::LeftButton);  // the filter-graph branch
  EXPECT_EQ(form_.CameraOn(), 0);
  EXPECT_EQ(form_.CameraState().LastCapResult, 77);
  EXPECT_TRUE(old_window->Connected());

  // Accepted again; the window left connected lets go of the camera for the new one.
  form_.Option7->click();
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  EXPECT_TRUE(boxes_.Calls().empty());
  EXPECT_NE(form_.CameraState().CaptureWindow, first);
  EXPECT_FALSE(old_window->Connected());
  EXPECT_TRUE(Previewing(form_));
}

TEST_F(CameraSwitchTest, ACameraFailureShowsInTheStatusLineAndSwitchOffAndExitStayClean) {
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  ASSERT_TRUE(Previewing(form_));
  GstElement* source = CaptureOf(form_)->Pipeline().Source();
  GError* error =
      g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY, "Device is busy.");
  gst_element_post_message(source, gst_message_new_error(GST_OBJECT(source), error, nullptr));
  g_error_free(error);
  ASSERT_TRUE(WaitFor([&] { return form_.Label1->text().startsWith(" Camera error: "); }, 5000));
  EXPECT_EQ(form_.Label1->text(), QStringLiteral(" Camera error: Device is busy."));
  EXPECT_TRUE(CaptureOf(form_)->Shown());  // the last frame stays on screen
  EXPECT_EQ(form_.CameraOn(), 1);
  QTest::mouseClick(form_.Command13, Qt::LeftButton);
  EXPECT_EQ(form_.CameraOn(), 0);
  EXPECT_TRUE(boxes_.Calls().empty());
  form_.Exit();
  EXPECT_TRUE(form_.Unloaded());
}

TEST_F(CameraSwitchTest, ExitDisconnectsACameraThatIsOnAndTouchesNoneThatIsOff) {
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  capture::CaptureWindow* window = CaptureOf(form_);
  form_.Exit();
  EXPECT_FALSE(window->Connected());
  EXPECT_EQ(form_.CameraState().LastCapResult, 1);
  EXPECT_EQ(form_.CameraOn(), 1);  // the exit keeps the flag

  Form1 other;
  QTest::mouseClick(other.Command11, Qt::LeftButton);
  QTest::mouseClick(other.Command13, Qt::LeftButton);
  testing_support::WritableState(other.Camera()).LastCapResult = 77;
  other.Exit();
  EXPECT_EQ(other.CameraState().LastCapResult, 77);
}

// The brightness control of the camera a capture window shows.
std::optional<gst::ControlInfo> Brightness(gst::CameraControls& controls) {
  for (const gst::ControlInfo& info : controls.List())
    if (info.name == QStringLiteral("Brightness")) return info;
  return std::nullopt;
}

// What the operator set on the picture page is the camera's again at the next switch-on; what
// the camera refuses of it is told on the status line, after the switch-on's own text, and
// the camera is on all the same.
TEST_F(CameraSwitchTest, RememberedPictureControlsComeBackAtTheNextSwitchOn) {
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  ASSERT_TRUE(Previewing(form_));
  const QString identity = gst::CameraIdentity(CaptureOf(form_)->Pipeline().Camera());
  int chosen = 0;
  {
    gst::CameraPipeline& camera = CaptureOf(form_)->Pipeline();
    gst::ControlsPage page(gst::ControlsOf(camera), &camera.Camera(), true);
    ASSERT_TRUE(page.Controls());
    const std::optional<gst::ControlInfo> info = Brightness(*page.Controls());
    ASSERT_TRUE(info);
    chosen = info->minimum + (info->defaultValue - info->minimum) / 2;
    ASSERT_NE(chosen, info->defaultValue);
    page.findChild<QSlider*>(QStringLiteral("Brightness"))->setValue(chosen);
  }
  QTest::mouseClick(form_.Command13, Qt::LeftButton);
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  ASSERT_TRUE(Previewing(form_));
  {
    const auto controls = gst::ControlsOf(CaptureOf(form_)->Pipeline());
    ASSERT_TRUE(controls);
    EXPECT_EQ(controls->Get(Brightness(*controls)->id), chosen);
  }
  EXPECT_EQ(form_.Label1->text(), QStringLiteral("Label1"));

  const QString refused = QStringLiteral(" Настройки камеры: не применены: Brightness");
  gst::StoreControl(identity, QStringLiteral("brightness"), 1'000'000);
  QTest::mouseClick(form_.Command13, Qt::LeftButton);
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  EXPECT_TRUE(Previewing(form_));
  EXPECT_EQ(form_.CameraOn(), 1);
  EXPECT_EQ(form_.Label1->text(), refused);
  // Put right, the next switch-on's status line no longer says it.
  gst::StoreControl(identity, QStringLiteral("brightness"), chosen);
  QTest::mouseClick(form_.Command13, Qt::LeftButton);
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  EXPECT_TRUE(Previewing(form_));
  EXPECT_TRUE(form_.Label1->text().isEmpty());

  // The filter graph's camera: after its own text.
  gst::StoreControl(identity, QStringLiteral("brightness"), 1'000'000);
  QTest::mouseClick(form_.Command13, Qt::LeftButton);
  form_.Option8->click();
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  testing_support::ClickListRow(form_.Combo2, 0);
  EXPECT_EQ(form_.CameraOn(), 1);
  EXPECT_EQ(form_.Label1->text(), QStringLiteral(" Previewing camera") + refused);
  EXPECT_TRUE(boxes_.Calls().empty());
  gst::ForgetControls(identity);
}

// A run holds the exposure only when the operator chose so, and its end gives the camera's
// automatic modes back.
TEST_F(CameraSwitchTest, ARunHoldsTheExposureOnlyWhenChosenAndItsEndGivesTheModesBack) {
  EXPECT_TRUE(form_.Camera().LockForRun().isEmpty());  // no camera on
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  ASSERT_TRUE(Previewing(form_));
  gst::CameraPipeline& camera = CaptureOf(form_)->Pipeline();
  {
    const auto controls = gst::ControlsOf(camera);
    ASSERT_TRUE(controls);
    ASSERT_TRUE(controls->Set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY));
  }
  const auto automatic = [&] {
    gboolean on = FALSE;
    g_object_get(camera.Source(), "exposure-auto", &on, nullptr);
    return on != FALSE;
  };
  EXPECT_TRUE(form_.Camera().LockForRun().isEmpty());
  EXPECT_TRUE(automatic());  // not chosen
  form_.Camera().EndRunLock();
  EXPECT_TRUE(automatic());

  gst::ChooseExposureLock(true);
  const QStringList failed = form_.Camera().LockForRun();
  gst::ChooseExposureLock(false);
  EXPECT_TRUE(failed.isEmpty()) << failed.join(QLatin1Char('\n')).toStdString();
  EXPECT_FALSE(automatic());
  EXPECT_TRUE(gst::ManualExposureMs(camera));
  form_.Camera().EndRunLock();
  EXPECT_TRUE(automatic());
  EXPECT_FALSE(gst::ManualExposureMs(camera));
}

}  // namespace

namespace {

int CountEntries(const char* folder) {
  return static_cast<int>(
      QDir(QString::fromLatin1(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

// Threads, open descriptors and GStreamer objects come back to where they were after many
// switch-ons and switch-offs: threads and descriptors as the kernel lists them for this
// process, pipelines by the platform layer's own count of those not yet finalized (a
// pipeline is finalized only once every element, pad and bus in it is released).
// A camera that stops delivering without an error is told on the status line after a second,
// in preview, in both back ends; no picture is taken from it meanwhile, and when its frames
// come again the preview and the pictures go on by themselves.
TEST_F(CameraSwitchTest, AFrozenCameraIsToldAndTakesNoPictureUntilItsFramesComeAgain) {
  const QString frozen = QStringLiteral(" Camera error: камера не даёт кадров больше секунды");
  auto check = [&](gst::CameraPipeline& camera) {
    std::optional<testing_support::CameraStall> stall(std::in_place, camera);
    ASSERT_TRUE(WaitFor([&] { return form_.Label1->text() == frozen; }, 5000))
        << form_.Label1->text().toStdString();
    EXPECT_TRUE(camera.IsOpen());
    EXPECT_THROW(form_.Camera().RecordingCamera(), std::exception);
    stall.reset();
    ASSERT_TRUE(WaitFor([&] { return form_.Label1->text().isEmpty(); }, 5000))
        << form_.Label1->text().toStdString();
    EXPECT_EQ(&form_.Camera().RecordingCamera(), &camera);
    EXPECT_TRUE(boxes_.Calls().empty());
  };
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  ASSERT_TRUE(Previewing(form_));
  {
    SCOPED_TRACE("capture window");
    check(CaptureOf(form_)->Pipeline());
    try {
      testing_support::CameraStall again(CaptureOf(form_)->Pipeline());
      ASSERT_TRUE(WaitFor([&] { return form_.Label1->text() == frozen; }, 5000));
      form_.Camera().RecordingCamera();
      ADD_FAILURE() << "a frozen camera gave a picture";
    } catch (const forms::RuntimeError& error) {
      EXPECT_EQ(error.Number(), forms::kDeviceUnavailable);  // as a grab without a frame
    }
    ASSERT_TRUE(WaitFor([&] { return form_.Label1->text().isEmpty(); }, 5000));
  }
  QTest::mouseClick(form_.Command13, Qt::LeftButton);
  form_.Option8->click();
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  testing_support::ClickListRow(form_.Combo2, 0);
  ASSERT_EQ(form_.CameraOn(), 1);
  gst::CameraPipeline* graphCamera = form_.CameraState().FilterGraph->Camera();
  ASSERT_TRUE(WaitFor([&] { return graphCamera->FrameCount() >= 2; }, 5000));
  SCOPED_TRACE("filter graph");
  check(*graphCamera);
  // A snapshot of the frozen camera is refused, and the status line keeps its error.
  form_.Option9->setChecked(true);
  testing_support::CameraStall stall(*graphCamera);
  ASSERT_TRUE(WaitFor([&] { return form_.Label1->text() == frozen; }, 5000));
  QTest::mouseClick(form_.Command19, Qt::LeftButton);
  ASSERT_EQ(boxes_.Calls().size(), 1u);
  EXPECT_EQ(boxes_.Calls()[0].text, QStringLiteral("Ошибка записи картинки в файл"));
  EXPECT_EQ(form_.Label1->text(), frozen);
}

// A frame belongs to its opening: a picture asked for after another camera or format was
// chosen is never answered by the earlier one's last frame, however long it waits.
TEST(CameraOpenings, AFrameOfAnEarlierOpeningAnswersNoRequest) {
  VirtualCameras cameras;
  const std::vector<gst::CameraDevice> list = gst::ListCameras();
  const gst::CameraDevice* yuy2 = testing_support::FindCamera(list, gst::kTestCameraYuy2);
  const gst::CameraDevice* mjpeg = testing_support::FindCamera(list, gst::kTestCameraMjpeg);
  ASSERT_TRUE(yuy2 && mjpeg);
  gst::CameraPipeline camera;
  ASSERT_TRUE(camera.Open(*yuy2, yuy2->formats.front()));
  ASSERT_TRUE(WaitFor([&] { return camera.FrameCount() >= 2; }, 5000));
  // The next camera opens without playing: no frame of its own comes.
  ASSERT_TRUE(camera.Open(*mjpeg, mjpeg->formats.front(), nullptr, GST_STATE_READY));
  ASSERT_TRUE(camera.LatestFrame());  // the preview still shows the last one
  const std::shared_ptr<gst::FrameRequest> request = camera.RequestFrame(gst::SteadyNowNs());
  EXPECT_FALSE(request->Wait(gst::SteadyNowNs() + 100'000'000));
  // Once it plays, its own first frame is the answer.
  ASSERT_TRUE(camera.SetState(GST_STATE_PLAYING));
  ASSERT_TRUE(WaitFor([&] { return camera.FrameCount() >= 1; }, 5000));
  const std::int64_t asked = gst::SteadyNowNs();
  const gst::FramePtr own = camera.RequestFrame(asked)->Wait(asked + 2'000'000'000);
  EXPECT_TRUE(own);

  // A new format is a new opening: a request still open is answered at once from the frames
  // it was offered, never by the new format's.
  const gst::CameraFormat* other = nullptr;
  for (const gst::CameraFormat& format : mjpeg->formats)
    if (format.width != camera.Format().width) other = &format;
  ASSERT_TRUE(other);
  const std::shared_ptr<gst::FrameRequest> pending =
      camera.RequestFrame(gst::SteadyNowNs() + 3'000'000'000);
  ASSERT_FALSE(pending->Answered());
  ASSERT_TRUE(camera.ChangeFormat(*other));
  EXPECT_TRUE(pending->Answered());
  const gst::FramePtr old = pending->Wait(gst::SteadyNowNs());
  ASSERT_TRUE(old);
  EXPECT_NE(old->Width(), other->width);
}

TEST(CameraSwitchCycles, FiftyCyclesLeaveNoThreadDescriptorOrPipelineBehind) {
  VirtualCameras cameras;
  MessageBoxRecorder boxes;
  Form1 form;
  auto cycle = [&] {
    QTest::mouseClick(form.Command11, Qt::LeftButton);
    ASSERT_TRUE(Previewing(form));
    QTest::mouseClick(form.Command13, Qt::LeftButton);
    testing_support::RunEventsFor(20);
  };
  for (int i = 0; i < 3; ++i) cycle();  // thread pools and plugins settle in
  const int threads = CountEntries("/proc/self/task");
  const int descriptors = CountEntries("/proc/self/fd");
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 0);
  for (int i = 0; i < 50; ++i) cycle();
  EXPECT_TRUE(boxes.Calls().empty());
  EXPECT_TRUE(WaitFor([&] { return CountEntries("/proc/self/task") <= threads; }, 5000))
      << CountEntries("/proc/self/task") << " threads, " << threads << " before";
  EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors);
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 0);
}

}  // namespace

// The filter-graph back end from the main window, with the built-in test cameras.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QLineEdit>
#include <QTest>
#include <QWheelEvent>

#include "platform/graph/video_window.h"
#include "platform/gst/gst_util.h"
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

// A device standing in for a camera whose filter is not what a camera's should be.
class OddDevice : public graph::CaptureDevice {
 public:
  enum Kind { NoOutputPin, NoVideo, UnknownFormat };
  OddDevice(Kind kind, gst::CameraDevice camera) : kind_(kind), camera_(std::move(camera)) {}
  QString DeviceName() const override { return QStringLiteral("Odd camera"); }
  std::shared_ptr<graph::IFilterInfo> AddToGraph(graph::FilgraphManager& g) override {
    auto filter = g.AddFilter(DeviceName());
    switch (kind_) {
      case NoOutputPin:
        filter->AddPin(QStringLiteral("In"), graph::PINDIR_INPUT);
        break;
      case NoVideo:  // an output pin, but no camera behind it
        filter->AddPin(
            QStringLiteral("Capture"), graph::PINDIR_OUTPUT,
            {gst::CameraFormat{
                QStringLiteral("video/x-raw"), QStringLiteral("YUY2"), 640, 480, {{30, 1}}}});
        break;
      case UnknownFormat:  // a format nothing can convert
        filter->SetCamera(camera_);
        filter->AddPin(
            QStringLiteral("Capture"), graph::PINDIR_OUTPUT,
            {gst::CameraFormat{
                QStringLiteral("video/x-raw"), QStringLiteral("NOPE"), 640, 480, {{30, 1}}}});
        break;
    }
    return filter;
  }

 private:
  Kind kind_;
  gst::CameraDevice camera_;
};

class DirectShowTest : public ::testing::Test {
 protected:
  void SetUp() override { form_.Option8->click(); }

  void SwitchOn() { QTest::mouseClick(form_.Command11, Qt::LeftButton); }
  void Choose(int row) { testing_support::ClickListRow(form_.Combo2, row); }
  graph::VideoWindow* Window() {
    return form_.CameraState().FilterGraph ? form_.CameraState().FilterGraph->Window() : nullptr;
  }
  bool Previewing() {
    graph::VideoWindow* window = Window();
    if (!window) return false;
    const std::uint64_t shown = window->ShownCount();
    return WaitFor([&] { return window->ShownCount() > shown; }, 5000);
  }
  void UseDevice(OddDevice::Kind kind) {
    const auto cameras = gst::ListCameras();
    const auto* camera = testing_support::FindCamera(cameras, gst::kTestCameraYuy2);
    testing_support::WritableState(form_.Camera()).VideoDevices =
        std::make_shared<graph::DeviceCollection>(
            std::vector<std::shared_ptr<graph::CaptureDevice>>{
                std::make_shared<OddDevice>(kind, *camera)});
  }

  VirtualCameras cameras_;
  MessageBoxRecorder boxes_;
  Form1 form_;
};

TEST_F(DirectShowTest, SwitchOnListsTheCamerasAndChoosingOnePreviewsIt) {
  SwitchOn();
  ASSERT_EQ(form_.Combo2->count(), 2);
  EXPECT_EQ(form_.Combo2->itemText(0), QLatin1String(gst::kTestCameraYuy2));
  EXPECT_EQ(form_.Combo2->itemText(1), QLatin1String(gst::kTestCameraMjpeg));
  EXPECT_EQ(form_.Label1->text(), QStringLiteral(" Ready for camera selection"));
  EXPECT_EQ(form_.Combo2->currentText(), QStringLiteral("выберете вэбкамеру из списка"));
  EXPECT_EQ(form_.CameraOn(), 0);

  SwitchOn();  // again before a choice: the list anew, no message
  EXPECT_EQ(form_.Combo2->count(), 2);
  EXPECT_TRUE(boxes_.Calls().empty());

  Choose(1);
  EXPECT_EQ(form_.CameraState().CameraInfo,
            QStringLiteral("Test camera MJPEG\r\nCapPin=   1\r\nCapPin=   Capture\r\n"));
  EXPECT_EQ(form_.Label1->text(), QStringLiteral(" Previewing camera"));
  EXPECT_EQ(form_.CameraOn(), 1);
  EXPECT_EQ(form_.CameraState().CapturePin->Name(), QStringLiteral("Capture"));
  EXPECT_TRUE(form_.CameraState().CapturePin->Connected());
  EXPECT_EQ(form_.CameraState().CaptureFilter->Name(), QLatin1String(gst::kTestCameraMjpeg));
  EXPECT_EQ(form_.CameraState().FilterGraph->Filters()[1]->Name(),
            QStringLiteral("AVI Decompressor"));
  graph::VideoWindow* window = Window();
  ASSERT_TRUE(window);
  EXPECT_EQ(window->parentWidget(), &form_);
  EXPECT_EQ(window->geometry(), QRect(8, 0, 640, 480));
  EXPECT_TRUE(window->isVisibleTo(&form_));
  EXPECT_EQ(form_.CameraState().VideoWindow->WindowStyle() &
                (graph::WS_DLGFRAME | graph::WS_SYSMENU | graph::WS_THICKFRAME),
            0);
  EXPECT_TRUE(Previewing());

  SwitchOn();  // a camera previews: refused
  ASSERT_EQ(boxes_.Calls().size(), 1u);
  EXPECT_EQ(boxes_.Calls()[0].text, QStringLiteral("Отключите уже включенную камеру"));
}

TEST_F(DirectShowTest, WithoutCamerasTheListStaysEmpty) {
  gst::ClearVirtualCameras();
  if (!gst::ListCameras().empty()) GTEST_SKIP() << "a real camera is attached";
  SwitchOn();
  EXPECT_EQ(form_.Label1->text(), QStringLiteral(" No cameras found!"));
  EXPECT_EQ(form_.Combo2->count(), 0);
  EXPECT_EQ(form_.CameraOn(), 0);
}

TEST_F(DirectShowTest, AFilterWithoutAnOutputPinIsReportedAndNothingRuns) {
  UseDevice(OddDevice::NoOutputPin);
  form_.Camera().DirectShow().BuildCameraGraph(0);
  EXPECT_EQ(form_.Label1->text(), QStringLiteral(" Couldn't find capture pin!"));
  EXPECT_EQ(form_.CameraState().CameraInfo, QStringLiteral("Odd camera\r\n"));
  EXPECT_FALSE(form_.CameraState().CapturePin);
  EXPECT_EQ(form_.CameraOn(), 0);
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 0);
}

TEST_F(DirectShowTest, AGraphThatCannotBeBuiltOrRunShowsACameraErrorAndLeavesNothingRunning) {
  UseDevice(OddDevice::NoVideo);
  form_.Camera().DirectShow().BuildCameraGraph(0);
  EXPECT_TRUE(form_.Label1->text().startsWith(QStringLiteral(" Camera error: ")));
  EXPECT_EQ(form_.CameraOn(), 0);
  EXPECT_FALSE(form_.CameraState().FilterGraph);
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 0);
  EXPECT_TRUE(boxes_.Calls().empty());

  // A format that fails once it streams: reported when it fails, the program goes on.
  UseDevice(OddDevice::UnknownFormat);
  form_.Label1->clear();
  form_.Camera().DirectShow().BuildCameraGraph(0);
  ASSERT_TRUE(WaitFor([&] { return form_.Label1->text().startsWith(" Camera error: "); }, 5000))
      << form_.Label1->text().toStdString();
  QTest::mouseClick(form_.Command13, Qt::LeftButton);
  EXPECT_EQ(form_.CameraOn(), 0);
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 0);
}

TEST_F(DirectShowTest, AFailedChoiceLeavesTheFlagOfACaptureWindowCameraStillOn) {
  form_.Option7->click();
  SwitchOn();
  ASSERT_EQ(form_.CameraOn(), 1);
  form_.Option8->click();
  UseDevice(OddDevice::NoVideo);
  form_.Camera().DirectShow().BuildCameraGraph(0);
  EXPECT_TRUE(form_.Label1->text().startsWith(QStringLiteral(" Camera error: ")));
  EXPECT_EQ(form_.CameraOn(), 1);  // that camera is still connected
  QTest::mouseClick(form_.Command11, Qt::LeftButton);
  ASSERT_EQ(boxes_.Calls().size(), 1u);  // so a switch-on is still refused
  EXPECT_EQ(boxes_.Calls()[0].text, QStringLiteral("Отключите уже включенную камеру"));
}

TEST_F(DirectShowTest, TheListShowsItsHintsFromTheStartAndOnlyAChoiceChangesTheCamera) {
  QLineEdit* field = form_.Combo2->lineEdit();
  EXPECT_EQ(field->text(), QStringLiteral("нажмите Включить вэбкамеру"));
  EXPECT_EQ(field->cursorPosition(), 0);  // shown from its first character
  form_.Option7->click();
  form_.Option8->click();  // the same hint once more
  EXPECT_EQ(field->cursorPosition(), 0);
  SwitchOn();
  EXPECT_EQ(field->text(), QStringLiteral("выберете вэбкамеру из списка"));
  EXPECT_EQ(field->cursorPosition(), 0);
  Choose(0);
  ASSERT_TRUE(Previewing());
  const QString shown = field->text();

  // Over the closed list the wheel and the arrow keys change neither the row nor the camera.
  QWheelEvent wheel(QPointF(10, 10), form_.Combo2->mapToGlobal(QPointF(10, 10)), QPoint(),
                    QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(form_.Combo2, &wheel);
  QTest::keyClick(form_.Combo2, Qt::Key_Down);
  QTest::keyClick(form_.Combo2, Qt::Key_PageDown);
  EXPECT_EQ(form_.Combo2->currentIndex(), 0);
  EXPECT_EQ(field->text(), shown);
  EXPECT_TRUE(form_.CameraState().CameraInfo.startsWith(shown));

  // In the open list, a row taken with the arrow keys and Enter is a choice.
  form_.Combo2->showPopup();
  QTest::keyClick(form_.Combo2->view(), Qt::Key_Down);
  QTest::keyClick(form_.Combo2->view(), Qt::Key_Return);
  EXPECT_TRUE(Previewing());
  EXPECT_TRUE(form_.CameraState().CameraInfo.startsWith(QStringLiteral("Test camera MJPEG")))
      << form_.CameraState().CameraInfo.toStdString();
  EXPECT_EQ(field->text(), QStringLiteral("Test camera MJPEG"));
}

TEST_F(DirectShowTest, ChoosingAgainReleasesTheEarlierGraphFirst) {
  SwitchOn();
  Choose(0);
  ASSERT_TRUE(Previewing());
  Choose(0);  // the same camera: it must not be busy with the old graph
  EXPECT_EQ(form_.Label1->text(), QStringLiteral(" Previewing camera"));
  EXPECT_TRUE(Previewing());
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 1);
  Choose(1);
  EXPECT_TRUE(Previewing());
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 1);
  EXPECT_EQ(form_.CameraState().CameraInfo.left(17), QStringLiteral("Test camera MJPEG"));
}

TEST_F(DirectShowTest, SwitchOffHidesAndDetachesTheWindowAndReleasesTheGraph) {
  QTest::mouseClick(form_.Command13, Qt::LeftButton);  // no graph yet: only the flag
  EXPECT_EQ(form_.CameraOn(), 0);
  SwitchOn();
  Choose(0);
  ASSERT_TRUE(Previewing());
  const std::shared_ptr<graph::IPinInfo> pin = form_.CameraState().CapturePin;
  const auto graph_alive = std::weak_ptr<graph::FilgraphManager>(form_.CameraState().FilterGraph);
  QTest::mouseClick(form_.Command13, Qt::LeftButton);
  EXPECT_EQ(form_.CameraOn(), 0);
  EXPECT_FALSE(form_.CameraState().FilterGraph);
  EXPECT_FALSE(pin->Connected());
  // The video window and basic video views still hold the graph, as the fields keep what
  // they hold; but it is stopped, hidden and detached, and its camera released.
  ASSERT_TRUE(form_.CameraState().VideoWindow);
  EXPECT_EQ(form_.CameraState().VideoWindow->Owner(), nullptr);
  EXPECT_EQ(form_.CameraState().VideoWindow->Visible(), graph::OAFALSE);
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 0);
  graph::VideoWindow* window = graph_alive.lock()->Window();
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(window->parentWidget());

  SwitchOn();  // accepted again
  Choose(1);
  EXPECT_TRUE(Previewing());
  EXPECT_TRUE(boxes_.Calls().empty());
}

TEST_F(DirectShowTest, CurrentImageGrabsAPackedBitmapAndThePreviewGoesOn) {
  SwitchOn();
  Choose(0);
  ASSERT_TRUE(Previewing());
  const forms::LongArray image = form_.Camera().DirectShow().CurrentImage();
  ASSERT_EQ(image.Elements.size(), (40u + 1920u * 480u) / 4u);
  EXPECT_EQ(image.Elements[1], 640);
  std::int32_t state = -1;
  form_.CameraState().FilterGraph->GetState(1000, &state);
  EXPECT_EQ(state, graph::State_Running);
  EXPECT_TRUE(Previewing());
}

TEST_F(DirectShowTest, ExitStopsAndHidesThePreview) {
  SwitchOn();
  Choose(1);
  ASSERT_TRUE(Previewing());
  form_.Exit();
  std::int32_t state = -1;
  form_.CameraState().FilterGraph->GetState(100, &state);
  EXPECT_EQ(state, graph::State_Stopped);
  EXPECT_FALSE(Window()->isVisible());
  EXPECT_TRUE(form_.Unloaded());
}

}  // namespace

// The test cameras' webcam controls: listed under the kernel's ids and names, refused where a
// driver refuses, and acting on the frames while the camera streams.

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <QImage>
#include <cmath>
#include <map>

#include "platform/gst/camera_controls.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/gst_util.h"
#include "platform/gst/test_camera.h"
#include "platform/gst/test_camera_controls.h"
#include "platform/gst/test_scene.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/camera_support.h"

namespace {

using gst::ControlInfo;

// The scene settings and light every test camera takes, for the lifetime of the object.
class SceneScope {
 public:
  explicit SceneScope(double exposureMs) : saved_(gst::TestSceneSettings()) {
    gst::SceneSettings settings = saved_;
    settings.exposureMs = exposureMs;
    settings.delayMs = settings.jitterMs = 0;
    gst::SetTestSceneSettings(settings);
  }
  ~SceneScope() {
    gst::SetTestSceneSettings(saved_);
    gst::SetTestSceneLight(1);
  }
  SceneScope(const SceneScope&) = delete;
  SceneScope& operator=(const SceneScope&) = delete;

 private:
  gst::SceneSettings saved_;
};

// A running test camera at 320 x 240, 30 frames a second; YUY2 unless asked for JPEG.
class RunningCamera {
 public:
  explicit RunningCamera(bool jpeg = false) {
    const std::vector<gst::CameraDevice> list = gst::ListCameras();
    const auto* camera =
        testing_support::FindCamera(list, jpeg ? gst::kTestCameraMjpeg : gst::kTestCameraYuy2);
    const gst::CameraFormat* format = camera ? camera->Find(!jpeg, 320, 240) : nullptr;
    open_ = format && pipeline_.Open(*camera, format->AtDefaultRate());
    if (open_) controls_ = gst::TestCameraControlsOf(pipeline_.Source());
  }
  bool Ready() const { return open_ && controls_; }
  gst::CameraControls& Controls() { return *controls_; }
  gst::CameraPipeline& Pipeline() { return pipeline_; }

  // The background's colour in the newest frame (the bottom right corner, clear of the scene
  // and the frame number), once a frame newer than the last one read came.
  std::optional<QRgb> NextBackgroundColour() {
    const gst::FramePtr frame = pipeline_.LatestFrame();
    if (!frame || frame->Number() <= last_) return std::nullopt;
    last_ = frame->Number();
    const QImage image = frame->Image();
    return image.pixel(image.width() - 4, image.height() - 4);
  }
  std::optional<int> NextBackground() {
    const std::optional<QRgb> colour = NextBackgroundColour();
    if (!colour) return std::nullopt;
    return qGray(*colour);
  }
  // Waits until the background's level is within `tolerance` of `level`.
  bool BackgroundReaches(int level, int tolerance) {
    return testing_support::WaitFor(
        [&] {
          const std::optional<int> now = NextBackground();
          return now && std::abs(*now - level) <= tolerance;
        },
        5000);
  }

 private:
  gst::CameraPipeline pipeline_;
  std::unique_ptr<gst::CameraControls> controls_;
  bool open_ = false;
  std::uint64_t last_ = 0;
};

TEST(TestCameraControls, AreThoseOfAWebcamAndRefusedWhereADriverRefuses) {
  testing_support::VirtualCameras cameras;
  const SceneScope scene(7.5);
  RunningCamera camera;
  ASSERT_TRUE(camera.Ready());
  gst::CameraControls& controls = camera.Controls();

  std::map<std::uint32_t, ControlInfo> listed;
  for (const ControlInfo& info : controls.List()) listed[info.id] = info;
  const std::map<std::uint32_t, QString> names = {
      {V4L2_CID_BRIGHTNESS, QStringLiteral("Brightness")},
      {V4L2_CID_CONTRAST, QStringLiteral("Contrast")},
      {V4L2_CID_SATURATION, QStringLiteral("Saturation")},
      {V4L2_CID_HUE, QStringLiteral("Hue")},
      {V4L2_CID_EXPOSURE_AUTO, QStringLiteral("Auto Exposure")},
      {V4L2_CID_EXPOSURE_ABSOLUTE, QStringLiteral("Exposure Time, Absolute")},
      {V4L2_CID_EXPOSURE_AUTO_PRIORITY, QStringLiteral("Exposure, Dynamic Framerate")},
      {V4L2_CID_GAIN, QStringLiteral("Gain")},
      {V4L2_CID_AUTO_WHITE_BALANCE, QStringLiteral("White Balance, Automatic")},
      {V4L2_CID_WHITE_BALANCE_TEMPERATURE, QStringLiteral("White Balance Temperature")}};
  ASSERT_EQ(listed.size(), names.size());
  for (const auto& [id, name] : names) {
    ASSERT_TRUE(listed.count(id)) << name.toStdString();
    EXPECT_EQ(listed[id].name, name);
    EXPECT_EQ(controls.Get(id), listed[id].defaultValue) << name.toStdString();
  }
  const ControlInfo& mode = listed[V4L2_CID_EXPOSURE_AUTO];
  EXPECT_EQ(mode.type, ControlInfo::Menu);
  EXPECT_EQ(mode.menu,
            (std::vector<std::pair<int, QString>>{{1, QStringLiteral("Manual Mode")},
                                                  {3, QStringLiteral("Aperture Priority Mode")}}));
  EXPECT_EQ(listed[V4L2_CID_EXPOSURE_ABSOLUTE].defaultValue, 75);  // 100 us units
  EXPECT_EQ(listed[V4L2_CID_EXPOSURE_AUTO_PRIORITY].type, ControlInfo::Boolean);
  EXPECT_EQ(listed[V4L2_CID_WHITE_BALANCE_TEMPERATURE].step, 10);

  // The colour balance acts under its V4L2 id.
  const ControlInfo& hue = listed[V4L2_CID_HUE];
  EXPECT_TRUE(controls.Set(V4L2_CID_HUE, hue.maximum));
  EXPECT_EQ(controls.Get(V4L2_CID_HUE), hue.maximum);
  EXPECT_FALSE(controls.Set(V4L2_CID_HUE, hue.maximum + 1));

  // Out of range, or not on the menu.
  EXPECT_FALSE(controls.Set(V4L2_CID_GAIN, 101));
  EXPECT_FALSE(controls.Set(V4L2_CID_EXPOSURE_ABSOLUTE, 0));
  EXPECT_FALSE(controls.Set(V4L2_CID_EXPOSURE_ABSOLUTE, 10001));
  EXPECT_FALSE(controls.Set(V4L2_CID_EXPOSURE_AUTO, 2));
  EXPECT_FALSE(controls.Set(V4L2_CID_EXPOSURE_AUTO, 0));
  EXPECT_FALSE(controls.Set(V4L2_CID_WHITE_BALANCE_TEMPERATURE, 2790));
  EXPECT_FALSE(controls.Set(V4L2_CID_AUTO_WHITE_BALANCE, 2));
  // What the automatic modes hold.
  EXPECT_FALSE(controls.Set(V4L2_CID_WHITE_BALANCE_TEMPERATURE, 5000));
  EXPECT_TRUE(controls.Set(V4L2_CID_AUTO_WHITE_BALANCE, 0));
  EXPECT_TRUE(controls.Set(V4L2_CID_WHITE_BALANCE_TEMPERATURE, 5004));
  EXPECT_EQ(controls.Get(V4L2_CID_WHITE_BALANCE_TEMPERATURE), 5000);  // to the step
  EXPECT_TRUE(controls.Set(V4L2_CID_EXPOSURE_AUTO, 3));
  EXPECT_EQ(controls.Get(V4L2_CID_EXPOSURE_AUTO), 3);
  EXPECT_FALSE(controls.Set(V4L2_CID_EXPOSURE_ABSOLUTE, 40));
  EXPECT_TRUE(controls.Set(V4L2_CID_EXPOSURE_AUTO, 1));
  EXPECT_TRUE(controls.Set(V4L2_CID_EXPOSURE_ABSOLUTE, 40));
  EXPECT_EQ(controls.Get(V4L2_CID_EXPOSURE_ABSOLUTE), 40);
  EXPECT_EQ(gst::ManualExposureMs(camera.Pipeline()), 4.0);
}

TEST(TestCameraControls, AreFoundOnlyOnATestCameraOrABinHoldingOne) {
  EXPECT_FALSE(gst::TestCameraControlsOf(nullptr));
  const gst::ElementPtr other = gst::Adopt(gst_element_factory_make("videotestsrc", nullptr));
  ASSERT_TRUE(other);
  EXPECT_FALSE(gst::TestCameraControlsOf(other.get()));
  const gst::ElementPtr outer = gst::Adopt(gst_bin_new("outer"));
  GstElement* inner = gst_bin_new("inner");
  gst_bin_add(GST_BIN(outer.get()), inner);
  EXPECT_FALSE(gst::TestCameraControlsOf(outer.get()));
  gst_bin_add(GST_BIN(inner), gst::MakeTestCameraSource(false, nullptr));
  const auto controls = gst::TestCameraControlsOf(outer.get());
  ASSERT_TRUE(controls);
  EXPECT_TRUE(controls->Set(V4L2_CID_GAIN, 50));
  EXPECT_EQ(controls->Get(V4L2_CID_GAIN), 50);
  EXPECT_TRUE(controls->Get(V4L2_CID_BRIGHTNESS).has_value());
}

// Exposure, scene light and gain scale the frame's brightness while the camera streams.
TEST(TestCameraControls, ExposureLightAndGainBrightenTheRunningPicture) {
  testing_support::VirtualCameras cameras;
  const SceneScope scene(5);
  RunningCamera camera;
  ASSERT_TRUE(camera.Ready());
  gst::CameraControls& controls = camera.Controls();
  std::optional<int> background;
  ASSERT_TRUE(testing_support::WaitFor(
      [&] {
        background = camera.NextBackground();
        return background.has_value();
      },
      5000));
  ASSERT_GT(*background, 20);
  ASSERT_TRUE(controls.Set(V4L2_CID_EXPOSURE_ABSOLUTE, 100));  // twice the configured 5 ms
  EXPECT_TRUE(camera.BackgroundReaches(2 * *background, 3));
  gst::SetTestSceneLight(0.5);
  EXPECT_TRUE(camera.BackgroundReaches(*background, 2));
  ASSERT_TRUE(controls.Set(V4L2_CID_GAIN, 50));  // three times
  EXPECT_TRUE(camera.BackgroundReaches(3 * *background, 4));
}

// Automatic exposure keeps the picture's brightness as the light changes, within the frame
// interval unless the frame rate may drop.
TEST(TestCameraControls, AutomaticExposureFollowsTheSceneLight) {
  testing_support::VirtualCameras cameras;
  const SceneScope scene(10);
  RunningCamera camera;
  ASSERT_TRUE(camera.Ready());
  gst::CameraControls& controls = camera.Controls();
  std::optional<int> background;
  ASSERT_TRUE(testing_support::WaitFor(
      [&] {
        background = camera.NextBackground();
        return background.has_value();
      },
      5000));
  ASSERT_TRUE(controls.Set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY));
  const auto exposureNear = [&](int units) {
    return testing_support::WaitFor(
        [&] { return std::abs(*controls.Get(V4L2_CID_EXPOSURE_ABSOLUTE) - units) <= 1; }, 5000);
  };
  gst::SetTestSceneLight(2);
  EXPECT_TRUE(exposureNear(50));
  EXPECT_TRUE(camera.BackgroundReaches(*background, 2));
  gst::SetTestSceneLight(0.1);  // would need 100 ms
  EXPECT_TRUE(exposureNear(333));
  EXPECT_TRUE(camera.BackgroundReaches(*background / 3, 2));
  ASSERT_TRUE(controls.Set(V4L2_CID_EXPOSURE_AUTO_PRIORITY, 1));
  EXPECT_TRUE(exposureNear(1000));
  EXPECT_TRUE(camera.BackgroundReaches(*background, 2));
  // The frames come as the exposures end, no closer than 100 ms (every third of the stream).
  gst::FramePtr previous = camera.Pipeline().LatestFrame();
  ASSERT_TRUE(previous);
  for (int frames = 0; frames < 3; ++frames) {
    gst::FramePtr next;
    ASSERT_TRUE(testing_support::WaitFor(
        [&] {
          next = camera.Pipeline().LatestFrame();
          return next->Number() != previous->Number();
        },
        5000));
    EXPECT_GE(next->CaptureNs() - previous->CaptureNs(), 90'000'000);
    previous = next;
  }
  // Back by hand, the time automatic exposure reached stays.
  ASSERT_TRUE(controls.Set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL));
  EXPECT_NEAR(*controls.Get(V4L2_CID_EXPOSURE_ABSOLUTE), 1000, 1);
  gst::SetTestSceneLight(1);
  EXPECT_TRUE(camera.BackgroundReaches(255, 1));  // ten times, clipped
}

// A white balance set by hand away from the scene's light tints the picture, raw or JPEG.
TEST(TestCameraControls, AWhiteBalanceSetByHandTintsThePicture) {
  testing_support::VirtualCameras cameras;
  for (const bool jpeg : {false, true}) {
    SCOPED_TRACE(jpeg ? "JPEG" : "YUY2");
    RunningCamera camera(jpeg);
    ASSERT_TRUE(camera.Ready());
    gst::CameraControls& controls = camera.Controls();
    // How much redder than blue the background is, within `tolerance` of `difference`.
    const auto redness = [&](int difference, int tolerance) {
      return testing_support::WaitFor(
          [&] {
            const std::optional<QRgb> colour = camera.NextBackgroundColour();
            return colour && std::abs(qRed(*colour) - qBlue(*colour) - difference) <= tolerance;
          },
          5000);
    };
    EXPECT_TRUE(redness(0, 3));
    ASSERT_TRUE(controls.Set(V4L2_CID_AUTO_WHITE_BALANCE, 0));
    ASSERT_TRUE(controls.Set(V4L2_CID_WHITE_BALANCE_TEMPERATURE, 6500));  // red 1.41, blue 0.71
    EXPECT_TRUE(redness(27, 6));
    ASSERT_TRUE(controls.Set(V4L2_CID_WHITE_BALANCE_TEMPERATURE, 2800));  // red 0.61, blue 1.64
    EXPECT_TRUE(redness(-40, 8));
    ASSERT_TRUE(controls.Set(V4L2_CID_AUTO_WHITE_BALANCE, 1));
    EXPECT_TRUE(redness(0, 3));
  }
}

}  // namespace

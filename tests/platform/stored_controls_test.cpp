// The picture controls remembered per camera, through the test cameras: set on the controls
// page, applied again at every opening of that camera (also after it went and came back), never
// to another; what cannot be applied only told; "Default" forgets.

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <optional>

#include "platform/gst/camera_controls.h"
#include "platform/gst/camera_identity.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/controls_page.h"
#include "platform/gst/exposure_lock.h"
#include "platform/gst/stored_controls.h"
#include "platform/gst/user_settings.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/camera_support.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::FindCamera;

// A camera's control by name: its id and range.
std::optional<gst::ControlInfo> ControlNamed(gst::CameraControls& controls, const QString& name) {
  for (const gst::ControlInfo& info : controls.List())
    if (info.name == name) return info;
  return std::nullopt;
}

// The value of a control of the open camera.
std::optional<int> ValueOf(const gst::CameraPipeline& pipeline, const QString& name) {
  const auto controls = gst::ControlsOf(pipeline);
  if (!controls) return std::nullopt;
  const std::optional<gst::ControlInfo> info = ControlNamed(*controls, name);
  return info ? controls->Get(info->id) : std::nullopt;
}

QStringList StoredKeys() {
  QSettings settings = gst::UserSettings();
  return settings.allKeys().filter(QStringLiteral("camera-controls/"));
}

class StoredControls : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* name : {gst::kTestCameraYuy2, gst::kTestCameraMjpeg})
      if (const gst::CameraDevice* camera = Camera(name))
        gst::ForgetControls(gst::CameraIdentity(*camera));
  }
  const gst::CameraDevice* Camera(const char* name) {
    list_ = gst::ListCameras();
    return FindCamera(list_, name);
  }

  testing_support::VirtualCameras cameras_;
  std::vector<gst::CameraDevice> list_;
  const QString brightness_ = QStringLiteral("Brightness");
};

TEST_F(StoredControls, WhatThePageSetComesBackAtEachOpeningOfThatCameraOnly) {
  const gst::CameraDevice* yuy2 = Camera(gst::kTestCameraYuy2);
  ASSERT_TRUE(yuy2);
  gst::CameraPipeline pipeline;
  ASSERT_TRUE(pipeline.Open(*yuy2, yuy2->FirstRaw()->AtDefaultRate()));
  int chosen = 0;
  {
    gst::ControlsPage page(gst::ControlsOf(pipeline), &pipeline.Camera(), true);
    ASSERT_TRUE(page.Controls());
    const std::optional<gst::ControlInfo> info = ControlNamed(*page.Controls(), brightness_);
    ASSERT_TRUE(info);
    chosen = info->maximum - (info->maximum - info->defaultValue) / 4;
    ASSERT_NE(chosen, info->defaultValue);
    auto* slider = page.findChild<QSlider*>(brightness_);
    ASSERT_TRUE(slider);
    slider->setValue(chosen);
  }
  EXPECT_EQ(ValueOf(pipeline, brightness_), chosen);

  // Off and on: a new source element, at its own defaults until the stored value comes.
  pipeline.Close();
  ASSERT_TRUE(pipeline.Open(*yuy2, yuy2->FirstRaw()->AtDefaultRate()));
  EXPECT_EQ(ValueOf(pipeline, brightness_), chosen);
  EXPECT_TRUE(pipeline.ControlsNotice().isEmpty());

  // Another camera keeps its own.
  const gst::CameraDevice* mjpeg = FindCamera(list_, gst::kTestCameraMjpeg);
  ASSERT_TRUE(mjpeg);
  gst::CameraPipeline other;
  ASSERT_TRUE(other.Open(*mjpeg, mjpeg->FirstRaw()->AtDefaultRate()));
  const auto otherControls = gst::ControlsOf(other);
  ASSERT_TRUE(otherControls);
  const std::optional<gst::ControlInfo> otherInfo = ControlNamed(*otherControls, brightness_);
  ASSERT_TRUE(otherInfo);
  EXPECT_EQ(otherControls->Get(otherInfo->id), otherInfo->defaultValue);
  other.Close();

  // The camera goes and comes back (a replug): listed anew, it is the same camera.
  pipeline.Close();
  gst::ClearVirtualCameras();
  ASSERT_FALSE(FindCamera(gst::ListCameras(), gst::kTestCameraYuy2));
  gst::RegisterVirtualCameras();
  const gst::CameraDevice* back = Camera(gst::kTestCameraYuy2);
  ASSERT_TRUE(back);
  ASSERT_TRUE(pipeline.Open(*back, back->FirstRaw()->AtDefaultRate()));
  EXPECT_EQ(ValueOf(pipeline, brightness_), chosen);
}

// A stored value the camera refuses, one of a control it has not and one that is no number are
// left out, traced and told; the rest is applied and the camera opens.
TEST_F(StoredControls, WhatTheCameraRefusesIsLeftOutAndToldAndTheCameraStillOpens) {
  const gst::CameraDevice* yuy2 = Camera(gst::kTestCameraYuy2);
  ASSERT_TRUE(yuy2);
  gst::CameraPipeline pipeline;
  ASSERT_TRUE(pipeline.Open(*yuy2, yuy2->FirstRaw()->AtDefaultRate()));
  const auto controls = gst::ControlsOf(pipeline);
  ASSERT_TRUE(controls);
  const std::optional<gst::ControlInfo> brightness = ControlNamed(*controls, brightness_);
  const std::optional<gst::ControlInfo> contrast =
      ControlNamed(*controls, QStringLiteral("Contrast"));
  ASSERT_TRUE(brightness && contrast);
  const QString identity = gst::CameraIdentity(*yuy2);
  gst::StoreControl(identity, gst::ControlKey(brightness_), brightness->maximum + 1);
  gst::StoreControl(identity, gst::ControlKey(QStringLiteral("Contrast")), contrast->minimum);
  gst::StoreControl(identity, QStringLiteral("zoom_absolute"), 3);
  {
    QSettings settings = gst::UserSettings();
    for (const QString& key : StoredKeys())
      if (key.endsWith(QStringLiteral("/contrast")))
        settings.setValue(key.chopped(9) + QStringLiteral("/saturation"), QStringLiteral("much"));
  }
  pipeline.Close();

  testing_support::LogRecorder traces;
  QString error;
  ASSERT_TRUE(pipeline.Open(*yuy2, yuy2->FirstRaw()->AtDefaultRate(), &error))
      << error.toStdString();
  EXPECT_EQ(ValueOf(pipeline, QStringLiteral("Contrast")), contrast->minimum);
  EXPECT_EQ(ValueOf(pipeline, brightness_), brightness->defaultValue);
  const QString notice = pipeline.ControlsNotice();
  EXPECT_TRUE(notice.startsWith(QStringLiteral("не применены: "))) << notice.toStdString();
  for (const char* part : {"Brightness", "zoom_absolute", "Saturation"})
    EXPECT_TRUE(notice.contains(QLatin1String(part))) << part;
  EXPECT_FALSE(notice.contains(QStringLiteral("Contrast")));
  EXPECT_EQ(traces.Lines().filter(QStringLiteral("strobolux.gst:")).size(), 3)
      << traces.Lines().join(QLatin1Char('\n')).toStdString();

  // A clean opening says nothing any more.
  gst::ForgetControls(identity);
  ASSERT_TRUE(pipeline.Open(*yuy2, yuy2->FirstRaw()->AtDefaultRate()));
  EXPECT_TRUE(pipeline.ControlsNotice().isEmpty());
}

TEST_F(StoredControls, AnUnreadableSettingsFileIsToldAndTheCameraStillOpens) {
  const gst::CameraDevice* yuy2 = Camera(gst::kTestCameraYuy2);
  ASSERT_TRUE(yuy2);
  const QString file = gst::UserSettings().fileName();
  QByteArray saved;
  ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
  {
    QFile original(file);
    if (original.open(QIODevice::ReadOnly)) saved = original.readAll();
    QFile damaged(file);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write("[camera-controls\nbrightness=3\n");
  }
  testing_support::LogRecorder traces;
  gst::CameraPipeline pipeline;
  const bool opened = pipeline.Open(*yuy2, yuy2->FirstRaw()->AtDefaultRate());
  const QString notice = pipeline.ControlsNotice();
  pipeline.Close();
  {
    QFile restored(file);
    ASSERT_TRUE(restored.open(QIODevice::WriteOnly | QIODevice::Truncate));
    restored.write(saved);
  }
  EXPECT_TRUE(opened);
  EXPECT_EQ(notice, QStringLiteral("файл настроек не читается"));
  EXPECT_EQ(traces.Lines().filter(QStringLiteral("cannot be read")).size(), 1);
}

// A camera opened again while a run's lock holds its exposure keeps the lock's values, not the
// automatic mode the operator stored; after the run the stored mode applies again.
TEST_F(StoredControls, ACameraOpenedAgainDuringALockedRunKeepsTheLock) {
  const gst::CameraDevice* yuy2 = Camera(gst::kTestCameraYuy2);
  ASSERT_TRUE(yuy2);
  const QString identity = gst::CameraIdentity(*yuy2);
  gst::StoreControl(identity, QStringLiteral("auto_exposure"), V4L2_EXPOSURE_APERTURE_PRIORITY);
  const QString mode = QStringLiteral("Auto Exposure");
  gst::CameraPipeline first;
  ASSERT_TRUE(first.Open(*yuy2, yuy2->FirstRaw()->AtDefaultRate()));
  EXPECT_EQ(ValueOf(first, mode), V4L2_EXPOSURE_APERTURE_PRIORITY);
  const auto controls = gst::ControlsOf(first);
  ASSERT_TRUE(controls);
  gst::ExposureLock lock;
  EXPECT_TRUE(lock.Lock(*controls).isEmpty());
  first.Close();
  {
    gst::CameraPipeline again;
    ASSERT_TRUE(again.Open(*yuy2, yuy2->FirstRaw()->AtDefaultRate()));
    EXPECT_EQ(ValueOf(again, mode), V4L2_EXPOSURE_MANUAL);
    EXPECT_EQ(again.ControlsNotice(), QString());
  }
  lock.Restore(*controls);
  gst::CameraPipeline after;
  ASSERT_TRUE(after.Open(*yuy2, yuy2->FirstRaw()->AtDefaultRate()));
  EXPECT_EQ(ValueOf(after, mode), V4L2_EXPOSURE_APERTURE_PRIORITY);
}

TEST_F(StoredControls, DefaultPutsTheCameraBackAndForgetsWhatWasStored) {
  const gst::CameraDevice* yuy2 = Camera(gst::kTestCameraYuy2);
  ASSERT_TRUE(yuy2);
  gst::CameraPipeline pipeline;
  ASSERT_TRUE(pipeline.Open(*yuy2, yuy2->FirstRaw()->AtDefaultRate()));
  {
    gst::ControlsPage page(gst::ControlsOf(pipeline), &pipeline.Camera(), true);
    const std::optional<gst::ControlInfo> info = ControlNamed(*page.Controls(), brightness_);
    ASSERT_TRUE(info);
    auto* slider = page.findChild<QSlider*>(brightness_);
    ASSERT_TRUE(slider);
    slider->setValue(info->minimum);
    // Written a moment after the last change, not at each step of a drag.
    EXPECT_TRUE(StoredKeys().isEmpty());
    ASSERT_TRUE(testing_support::WaitFor([&] { return !StoredKeys().isEmpty(); }, 2000));
    page.findChild<QPushButton*>(QStringLiteral("Default"))->click();
    EXPECT_EQ(ValueOf(pipeline, brightness_), info->defaultValue);
  }
  EXPECT_TRUE(StoredKeys().isEmpty());
}

}  // namespace

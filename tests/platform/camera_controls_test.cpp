// Camera controls: the V4L2 logic against a device that answers the control ioctls as a
// driver does, the colour balance of the test cameras, and the controls page over both.

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "platform/gst/camera_controls.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/controls_page.h"
#include "platform/gst/exposure_lock.h"
#include "platform/gst/stored_controls.h"
#include "platform/gst/test_scene.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/camera_support.h"
#include "tests/support/test_support.h"

namespace {

using gst::ControlInfo;

// A driver's control table: enumerated in id order with NEXT_CTRL, menus with a hole.
class FakeDriver {
 public:
  struct Control {
    v4l2_ctrl_type type;
    const char* name;
    int min, max, step, def;
    std::uint32_t flags;
  };
  std::map<std::uint32_t, Control> controls = {
      {V4L2_CID_USER_CLASS, {V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0, 0, 0, 0}},
      {V4L2_CID_BRIGHTNESS, {V4L2_CTRL_TYPE_INTEGER, "Brightness", 0, 255, 1, 128, 0}},
      {V4L2_CID_CONTRAST,
       {V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 10, 2, 4, V4L2_CTRL_FLAG_DISABLED}},
      {V4L2_CID_AUTOGAIN, {V4L2_CTRL_TYPE_BOOLEAN, "Gain, Automatic", 0, 1, 1, 1, 0}},
      {V4L2_CID_POWER_LINE_FREQUENCY, {V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 1, 2, 0}},
      {V4L2_CID_PAN_RESET, {V4L2_CTRL_TYPE_BUTTON, "Pan, Reset", 0, 0, 0, 0, 0}},
  };
  std::map<std::uint32_t, int> values = {
      {V4L2_CID_BRIGHTNESS, 100}, {V4L2_CID_AUTOGAIN, 0}, {V4L2_CID_POWER_LINE_FREQUENCY, 0}};
  std::map<std::uint32_t, std::map<std::uint32_t, const char*>> menus = {
      {V4L2_CID_POWER_LINE_FREQUENCY, {{0, "Disabled"}, {2, "60 Hz"}}}};
  // A value an automatic mode holds: refused (EACCES) and flagged inactive while the mode's
  // control is not at its manual setting.
  struct Mode {
    std::uint32_t control;
    int manual;
  };
  std::map<std::uint32_t, Mode> heldBy;
  std::vector<std::uint32_t> refused;  // controls that refuse every value
  std::vector<std::pair<std::uint32_t, int>> sets;

  bool Held(std::uint32_t id) {
    const auto mode = heldBy.find(id);
    return mode != heldBy.end() && values[mode->second.control] != mode->second.manual;
  }
  // The usual webcam's exposure, gain and white balance, all automatic.
  void AddAutomaticModes() {
    controls[V4L2_CID_EXPOSURE_AUTO] = {V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3, 1, 3, 0};
    menus[V4L2_CID_EXPOSURE_AUTO] = {{1, "Manual Mode"}, {3, "Aperture Priority Mode"}};
    controls[V4L2_CID_EXPOSURE_ABSOLUTE] = {
        V4L2_CTRL_TYPE_INTEGER, "Exposure Time, Absolute", 1, 5000, 1, 156, 0};
    controls[V4L2_CID_EXPOSURE_AUTO_PRIORITY] = {
        V4L2_CTRL_TYPE_BOOLEAN, "Exposure, Dynamic Framerate", 0, 1, 1, 0, 0};
    controls[V4L2_CID_GAIN] = {V4L2_CTRL_TYPE_INTEGER, "Gain", 0, 255, 1, 0, 0};
    controls[V4L2_CID_AUTO_WHITE_BALANCE] = {
        V4L2_CTRL_TYPE_BOOLEAN, "White Balance, Automatic", 0, 1, 1, 1, 0};
    controls[V4L2_CID_WHITE_BALANCE_TEMPERATURE] = {
        V4L2_CTRL_TYPE_INTEGER, "White Balance Temperature", 2800, 6500, 10, 4600, 0};
    heldBy[V4L2_CID_EXPOSURE_ABSOLUTE] = {V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL};
    heldBy[V4L2_CID_GAIN] = {V4L2_CID_AUTOGAIN, 0};
    heldBy[V4L2_CID_WHITE_BALANCE_TEMPERATURE] = {V4L2_CID_AUTO_WHITE_BALANCE, 0};
    values[V4L2_CID_EXPOSURE_AUTO] = V4L2_EXPOSURE_APERTURE_PRIORITY;
    values[V4L2_CID_EXPOSURE_ABSOLUTE] = 123;  // where the automatic exposure is now
    values[V4L2_CID_EXPOSURE_AUTO_PRIORITY] = 1;
    values[V4L2_CID_AUTOGAIN] = 1;
    values[V4L2_CID_GAIN] = 40;
    values[V4L2_CID_AUTO_WHITE_BALANCE] = 1;
    values[V4L2_CID_WHITE_BALANCE_TEMPERATURE] = 5100;
  }
  // Whether a set of this control to this value came, and after which other set.
  std::ptrdiff_t SetAt(std::uint32_t id, int value) const {
    const auto found = std::find(sets.begin(), sets.end(), std::make_pair(id, value));
    return found == sets.end() ? -1 : found - sets.begin();
  }

  int operator()(unsigned long request, void* argument) {
    if (request == VIDIOC_QUERY_EXT_CTRL) {
      auto* q = static_cast<v4l2_query_ext_ctrl*>(argument);
      const std::uint32_t id = q->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
      const auto found = controls.upper_bound(id);
      if (!(q->id & V4L2_CTRL_FLAG_NEXT_CTRL) || found == controls.end()) return errno = EINVAL, -1;
      const Control& c = found->second;
      *q = v4l2_query_ext_ctrl{};
      q->id = found->first;
      q->type = c.type;
      std::strncpy(q->name, c.name, sizeof q->name - 1);
      q->minimum = c.min;
      q->maximum = c.max;
      q->step = static_cast<std::uint64_t>(c.step);
      q->default_value = c.def;
      q->flags = c.flags | (Held(found->first) ? V4L2_CTRL_FLAG_INACTIVE : 0);
      return 0;
    }
    if (request == VIDIOC_QUERYMENU) {
      auto* m = static_cast<v4l2_querymenu*>(argument);
      const auto menu = menus.find(m->id);
      if (menu == menus.end() || !menu->second.count(m->index)) return errno = EINVAL, -1;
      std::strncpy(reinterpret_cast<char*>(m->name), menu->second[m->index], sizeof m->name - 1);
      return 0;
    }
    auto* c = static_cast<v4l2_control*>(argument);
    if (request == VIDIOC_G_CTRL) {
      if (!values.count(c->id)) return errno = EINVAL, -1;
      c->value = values[c->id];
      return 0;
    }
    if (request == VIDIOC_S_CTRL) {
      const auto found = controls.find(c->id);
      if (found == controls.end()) return errno = EINVAL, -1;
      const Control& control = found->second;
      // Any value written to a button presses it.
      if (control.type != V4L2_CTRL_TYPE_BUTTON &&
          (c->value < control.min || c->value > control.max))
        return errno = ERANGE, -1;
      if (Held(c->id) || std::count(refused.begin(), refused.end(), c->id))
        return errno = EACCES, -1;
      values[c->id] = c->value;
      sets.emplace_back(c->id, c->value);
      return 0;
    }
    return errno = ENOTTY, -1;
  }
};

TEST(CameraControls, V4l2ControlsAreListedReadAndSetAsTheDriverDescribesThem) {
  FakeDriver driver;
  gst::V4l2Controls controls([&](unsigned long r, void* a) { return driver(r, a); });
  const std::vector<ControlInfo> list = controls.List();
  ASSERT_EQ(list.size(), 4u);  // no class, no disabled control
  EXPECT_EQ(list[0].name, QStringLiteral("Brightness"));
  EXPECT_EQ(list[0].type, ControlInfo::Integer);
  EXPECT_EQ(list[0].maximum, 255);
  EXPECT_EQ(list[0].defaultValue, 128);
  EXPECT_EQ(list[1].type, ControlInfo::Boolean);
  EXPECT_EQ(list[2].type, ControlInfo::Menu);
  ASSERT_EQ(list[2].menu.size(), 2u);  // the hole at 1 is skipped
  EXPECT_EQ(list[2].menu[1], std::make_pair(2, QStringLiteral("60 Hz")));
  EXPECT_EQ(list[3].type, ControlInfo::Button);
  EXPECT_EQ(controls.Get(V4L2_CID_BRIGHTNESS), 100);
  EXPECT_TRUE(controls.Set(V4L2_CID_BRIGHTNESS, 200));
  EXPECT_EQ(controls.Get(V4L2_CID_BRIGHTNESS), 200);
  EXPECT_FALSE(controls.Set(V4L2_CID_BRIGHTNESS, 300));
  EXPECT_FALSE(controls.Get(V4L2_CID_HUE).has_value());
  EXPECT_EQ(gst::V4l2Controls::Open(QStringLiteral("/nonexistent/video9")), nullptr);
}

TEST(CameraControls, ThePageAppliesEachChangeAtOnceAndDefaultPutsThemBack) {
  auto driver = std::make_shared<FakeDriver>();
  gst::ControlsPage page(std::make_unique<gst::V4l2Controls>(
                             [driver](unsigned long r, void* a) { return (*driver)(r, a); }),
                         nullptr, true);
  auto* brightness = page.findChild<QSlider*>(QStringLiteral("Brightness"));
  auto* gain = page.findChild<QCheckBox*>(QStringLiteral("Gain, Automatic"));
  auto* power = page.findChild<QComboBox*>(QStringLiteral("Power Line Frequency"));
  auto* reset = page.findChild<QPushButton*>(QStringLiteral("Pan, Reset"));
  auto* defaults = page.findChild<QPushButton*>(QStringLiteral("Default"));
  ASSERT_TRUE(brightness && gain && power && reset && defaults);
  EXPECT_EQ(brightness->value(), 100);  // the camera's value, not the default
  EXPECT_EQ(page.findChild<QSpinBox*>()->value(), 100);
  brightness->setValue(180);
  EXPECT_EQ(driver->values[V4L2_CID_BRIGHTNESS], 180);
  EXPECT_EQ(page.findChild<QSpinBox*>()->value(), 180);
  gain->setChecked(true);
  EXPECT_EQ(driver->values[V4L2_CID_AUTOGAIN], 1);
  power->setCurrentIndex(0);
  emit power->activated(0);
  EXPECT_EQ(driver->values[V4L2_CID_POWER_LINE_FREQUENCY], 0);  // "Disabled"
  power->setCurrentIndex(1);
  emit power->activated(1);
  EXPECT_EQ(driver->values[V4L2_CID_POWER_LINE_FREQUENCY], 2);
  reset->click();
  EXPECT_EQ(driver->sets.back(), std::make_pair(std::uint32_t{V4L2_CID_PAN_RESET}, 1));
  defaults->click();
  EXPECT_EQ(driver->values[V4L2_CID_BRIGHTNESS], 128);
  EXPECT_EQ(driver->values[V4L2_CID_AUTOGAIN], 1);
  EXPECT_EQ(driver->values[V4L2_CID_POWER_LINE_FREQUENCY], 2);
}

// The exposure time is known only while the camera holds it: by hand or at shutter priority,
// or on a camera without automatic exposure; in units of 100 us.
TEST(CameraControls, ManualExposureIsKnownOnlyWhenTheTimeIsHeldByHand) {
  FakeDriver driver;
  driver.controls[V4L2_CID_EXPOSURE_AUTO] = {V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3, 1, 3, 0};
  driver.controls[V4L2_CID_EXPOSURE_ABSOLUTE] = {
      V4L2_CTRL_TYPE_INTEGER, "Exposure Time", 1, 5000, 1, 156, 0};
  driver.values[V4L2_CID_EXPOSURE_ABSOLUTE] = 83;
  gst::V4l2Controls controls([&](unsigned long r, void* a) { return driver(r, a); });
  driver.values[V4L2_CID_EXPOSURE_AUTO] = V4L2_EXPOSURE_MANUAL;
  EXPECT_EQ(controls.ManualExposureMs(), 8.3);
  driver.values[V4L2_CID_EXPOSURE_AUTO] = V4L2_EXPOSURE_SHUTTER_PRIORITY;
  EXPECT_EQ(controls.ManualExposureMs(), 8.3);
  driver.values[V4L2_CID_EXPOSURE_AUTO] = V4L2_EXPOSURE_APERTURE_PRIORITY;
  EXPECT_FALSE(controls.ManualExposureMs());
  driver.values[V4L2_CID_EXPOSURE_AUTO] = V4L2_EXPOSURE_AUTO;
  EXPECT_FALSE(controls.ManualExposureMs());
  driver.values.erase(V4L2_CID_EXPOSURE_AUTO);
  EXPECT_EQ(controls.ManualExposureMs(), 8.3);
  driver.values.erase(V4L2_CID_EXPOSURE_ABSOLUTE);
  EXPECT_FALSE(controls.ManualExposureMs());
}

TEST(CameraControls, TestCamerasOfferTheirColourBalance) {
  testing_support::VirtualCameras cameras;
  const auto list = gst::ListCameras();
  const auto* camera = testing_support::FindCamera(list, gst::kTestCameraYuy2);
  ASSERT_TRUE(camera);
  gst::CameraPipeline pipeline;
  ASSERT_TRUE(pipeline.Open(*camera, camera->FirstRaw()->AtDefaultRate()));
  const auto controls = gst::ControlsOf(pipeline);
  ASSERT_TRUE(controls);
  QStringList names;
  for (const ControlInfo& info : controls->List()) names << info.name;
  EXPECT_TRUE(names.contains(QStringLiteral("Brightness")));
  EXPECT_TRUE(names.contains(QStringLiteral("Contrast")));
  EXPECT_TRUE(names.contains(QStringLiteral("Hue")));
  EXPECT_TRUE(names.contains(QStringLiteral("Saturation")));
  const ControlInfo first = controls->List().front();
  EXPECT_TRUE(controls->Set(first.id, first.maximum));
  EXPECT_EQ(controls->Get(first.id), first.maximum);
  EXPECT_FALSE(controls->Set(first.id, first.maximum + 1));
  // Every channel reads back each value it took (the balance keeps them as doubles).
  for (const ControlInfo& info : controls->List()) {
    if (info.type != ControlInfo::Integer || info.maximum != 1000) continue;
    SCOPED_TRACE(info.name.toStdString());
    for (const int value : {7, -7, 1, 3, 999, -1000}) {
      ASSERT_TRUE(controls->Set(info.id, value));
      EXPECT_EQ(controls->Get(info.id), value);
    }
  }
}

TEST(CameraControls, ATestCameraReportsTheExposureItFilmsWith) {
  testing_support::VirtualCameras cameras;
  const auto list = gst::ListCameras();
  const auto* camera = testing_support::FindCamera(list, gst::kTestCameraMjpeg);
  ASSERT_TRUE(camera);
  const gst::SceneSettings saved = gst::TestSceneSettings();
  gst::SetTestSceneSettings({7.5, 0, 0, {}});
  gst::CameraPipeline pipeline;
  const bool opened = pipeline.Open(*camera, *camera->FirstJpeg());
  gst::SetTestSceneSettings(saved);
  ASSERT_TRUE(opened);
  EXPECT_EQ(gst::ManualExposureMs(pipeline), 7.5);
  g_object_set(pipeline.Source(), "exposure-ms", 2.0, nullptr);
  EXPECT_EQ(gst::ManualExposureMs(pipeline), 2.0);
  pipeline.Close();
  EXPECT_FALSE(gst::ManualExposureMs(pipeline));
}

// V4L2 refuses a value while the automatic mode that holds it is on: the stored modes go first
// whatever the order of their keys ("gain" sorts before "gain_automatic"), and a value the
// operator's own automatic mode holds is left to it without a word.
TEST(CameraControls, StoredModesAreSetBeforeTheValuesTheyHold) {
  FakeDriver driver;
  driver.AddAutomaticModes();
  gst::V4l2Controls controls([&](unsigned long r, void* a) { return driver(r, a); });
  const QString camera = QStringLiteral("Fake webcam [usb-0000:00:14.0-1]");
  const auto store = [&](const char* name, int value) {
    gst::StoreControl(camera, gst::ControlKey(QString::fromLatin1(name)), value);
  };
  store("Gain", 77);
  store("Gain, Automatic", 0);
  store("Auto Exposure", V4L2_EXPOSURE_MANUAL);
  store("Exposure Time, Absolute", 250);
  store("White Balance, Automatic", 1);
  store("White Balance Temperature", 3000);
  store("Brightness", 300);  // beyond the camera's range now
  testing_support::LogRecorder traces;
  const gst::AppliedControls applied = gst::ApplyStoredControls(camera, controls);
  gst::ForgetControls(camera);
  EXPECT_FALSE(applied.unreadable);
  EXPECT_EQ(applied.skipped, QStringList{QStringLiteral("Brightness")});
  EXPECT_EQ(applied.Notice(), QStringLiteral("не применены: Brightness"));
  EXPECT_EQ(driver.values[V4L2_CID_AUTOGAIN], 0);
  EXPECT_EQ(driver.values[V4L2_CID_GAIN], 77);
  EXPECT_EQ(driver.values[V4L2_CID_EXPOSURE_AUTO], V4L2_EXPOSURE_MANUAL);
  EXPECT_EQ(driver.values[V4L2_CID_EXPOSURE_ABSOLUTE], 250);
  EXPECT_EQ(driver.values[V4L2_CID_AUTO_WHITE_BALANCE], 1);
  EXPECT_EQ(driver.values[V4L2_CID_WHITE_BALANCE_TEMPERATURE], 5100);
  EXPECT_EQ(driver.values[V4L2_CID_BRIGHTNESS], 100);
  EXPECT_EQ(traces.Lines().filter(QStringLiteral("refuses")).size(), 1);
}

// The page offers the run's exposure lock, kept in the user's settings, and says what this
// camera cannot hold.
TEST(CameraControls, ThePageOffersTheExposureLockAndSaysWhatTheCameraCannotHold) {
  auto driver = std::make_shared<FakeDriver>();
  const auto page = [&] {
    return std::make_unique<gst::ControlsPage>(
        std::make_unique<gst::V4l2Controls>(
            [driver](unsigned long r, void* a) { return (*driver)(r, a); }),
        nullptr, true);
  };
  auto first = page();
  auto* lock = first->findChild<QCheckBox*>(QStringLiteral("LockExposure"));
  auto* unlockable = first->findChild<QLabel*>(QStringLiteral("Unlockable"));
  ASSERT_TRUE(lock && unlockable);
  EXPECT_FALSE(lock->isChecked());
  EXPECT_TRUE(unlockable->text().contains(QStringLiteral("нет управления временем экспозиции")));
  lock->setChecked(true);
  const bool chosen = gst::ExposureLockChosen();
  const bool shownAgain =
      page()->findChild<QCheckBox*>(QStringLiteral("LockExposure"))->isChecked();
  lock->setChecked(false);
  EXPECT_TRUE(chosen);
  EXPECT_TRUE(shownAgain);
  EXPECT_FALSE(gst::ExposureLockChosen());

  driver->AddAutomaticModes();
  EXPECT_FALSE(page()->findChild<QLabel*>(QStringLiteral("Unlockable")));
}

// The lock reads what the automatic modes reached, switches them and exposure priority off,
// holds those values by hand, and gives back only the modes it switched.
TEST(CameraControls, TheLockHoldsWhatTheAutomaticModesReachedAndGivesTheModesBack) {
  FakeDriver driver;
  driver.AddAutomaticModes();
  driver.values[V4L2_CID_AUTOGAIN] = 0;  // the operator's gain, by hand
  gst::V4l2Controls controls([&](unsigned long r, void* a) { return driver(r, a); });
  EXPECT_TRUE(gst::UnlockableParts(controls).isEmpty());
  gst::ExposureLock lock;
  EXPECT_FALSE(lock.Locked());
  EXPECT_TRUE(lock.Lock(controls).isEmpty());
  EXPECT_TRUE(lock.Locked());
  EXPECT_EQ(driver.values[V4L2_CID_EXPOSURE_AUTO], V4L2_EXPOSURE_MANUAL);
  EXPECT_EQ(driver.values[V4L2_CID_EXPOSURE_AUTO_PRIORITY], 0);
  EXPECT_EQ(driver.values[V4L2_CID_AUTO_WHITE_BALANCE], 0);
  // Each value set by hand, once its mode was off.
  const std::ptrdiff_t exposureOff = driver.SetAt(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL);
  const std::ptrdiff_t exposureHeld = driver.SetAt(V4L2_CID_EXPOSURE_ABSOLUTE, 123);
  EXPECT_GE(exposureOff, 0);
  EXPECT_GT(exposureHeld, exposureOff);
  EXPECT_GT(driver.SetAt(V4L2_CID_WHITE_BALANCE_TEMPERATURE, 5100),
            driver.SetAt(V4L2_CID_AUTO_WHITE_BALANCE, 0));
  EXPECT_GE(driver.SetAt(V4L2_CID_GAIN, 40), 0);
  EXPECT_EQ(driver.SetAt(V4L2_CID_AUTOGAIN, 0), -1);  // it was off already
  EXPECT_EQ(controls.ManualExposureMs(), 12.3);

  lock.Restore(controls);
  EXPECT_FALSE(lock.Locked());
  EXPECT_EQ(driver.values[V4L2_CID_EXPOSURE_AUTO], V4L2_EXPOSURE_APERTURE_PRIORITY);
  EXPECT_EQ(driver.values[V4L2_CID_EXPOSURE_AUTO_PRIORITY], 1);
  EXPECT_EQ(driver.values[V4L2_CID_AUTO_WHITE_BALANCE], 1);
  EXPECT_EQ(driver.values[V4L2_CID_AUTOGAIN], 0);
  const std::size_t sets = driver.sets.size();
  lock.Restore(controls);
  EXPECT_EQ(driver.sets.size(), sets);
}

TEST(CameraControls, WhatTheLockCannotHoldIsNamedAndLeftAsItIs) {
  FakeDriver driver;  // automatic gain, but no gain, exposure or white balance to set
  gst::V4l2Controls controls([&](unsigned long r, void* a) { return driver(r, a); });
  const QStringList missing = {
      QStringLiteral("экспозиция: нет управления временем экспозиции"),
      QStringLiteral("усиление: нет управления усилением"),
      QStringLiteral("баланс белого: нет управления цветовой температурой")};
  EXPECT_EQ(gst::UnlockableParts(controls), missing);
  gst::ExposureLock lock;
  EXPECT_EQ(lock.Lock(controls), missing);
  EXPECT_TRUE(driver.sets.empty());

  // Automatic exposure without a manual mode; automatic gain that will not go off.
  driver.AddAutomaticModes();
  driver.menus[V4L2_CID_EXPOSURE_AUTO] = {{0, "Auto Mode"}, {3, "Aperture Priority Mode"}};
  driver.refused.push_back(V4L2_CID_AUTOGAIN);
  EXPECT_EQ(gst::UnlockableParts(controls),
            QStringList{QStringLiteral("экспозиция: нет ручного режима")});
  driver.sets.clear();
  EXPECT_EQ(lock.Lock(controls),
            (QStringList{QStringLiteral("экспозиция: нет ручного режима"),
                         QStringLiteral("усиление: камера не выключает автоматический режим")}));
  EXPECT_EQ(driver.values[V4L2_CID_EXPOSURE_AUTO], V4L2_EXPOSURE_APERTURE_PRIORITY);
  EXPECT_EQ(driver.values[V4L2_CID_AUTO_WHITE_BALANCE], 0);  // the rest is held
  lock.Restore(controls);
  EXPECT_EQ(driver.values[V4L2_CID_AUTO_WHITE_BALANCE], 1);
  EXPECT_EQ(driver.values[V4L2_CID_EXPOSURE_AUTO_PRIORITY], 1);
}

// A test camera's automatic exposure, held through a run: its time stays where it was while
// the scene goes on, and the automatic mode comes back; meanwhile the time counts as manual.
TEST(CameraControls, TheLockHoldsATestCamerasAutomaticExposure) {
  testing_support::VirtualCameras cameras;
  const auto list = gst::ListCameras();
  const auto* camera = testing_support::FindCamera(list, gst::kTestCameraYuy2);
  ASSERT_TRUE(camera);
  gst::CameraPipeline pipeline;
  ASSERT_TRUE(pipeline.Open(*camera, camera->FirstRaw()->AtDefaultRate()));
  const auto controls = gst::ControlsOf(pipeline);
  ASSERT_TRUE(controls);
  EXPECT_TRUE(gst::UnlockableParts(*controls).isEmpty());
  ASSERT_TRUE(controls->Set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY));
  ASSERT_TRUE(controls->Set(V4L2_CID_AUTO_WHITE_BALANCE, 1));
  EXPECT_FALSE(gst::ManualExposureMs(pipeline));
  ASSERT_TRUE(testing_support::WaitFor([&] { return pipeline.FrameCount() > 3; }, 5000));

  gst::ExposureLock lock;
  EXPECT_TRUE(lock.Lock(*controls).isEmpty());
  const auto flag = [&](const char* property) {
    gboolean on = FALSE;
    g_object_get(pipeline.Source(), property, &on, nullptr);
    return on != FALSE;
  };
  EXPECT_FALSE(flag("exposure-auto"));
  EXPECT_FALSE(flag("white-balance-auto"));
  const std::optional<int> held = controls->Get(V4L2_CID_EXPOSURE_ABSOLUTE);
  ASSERT_TRUE(held);
  const std::uint64_t frames = pipeline.FrameCount();
  ASSERT_TRUE(testing_support::WaitFor([&] { return pipeline.FrameCount() > frames + 3; }, 5000));
  EXPECT_EQ(controls->Get(V4L2_CID_EXPOSURE_ABSOLUTE), held);
  ASSERT_TRUE(gst::ManualExposureMs(pipeline));
  EXPECT_NEAR(*gst::ManualExposureMs(pipeline), *held / 10.0, 0.05);

  lock.Restore(*controls);
  EXPECT_TRUE(flag("exposure-auto"));
  EXPECT_TRUE(flag("white-balance-auto"));
  EXPECT_FALSE(gst::ManualExposureMs(pipeline));
}

}  // namespace

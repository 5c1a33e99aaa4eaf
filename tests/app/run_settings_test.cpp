// A scripted run's settings reach the window's controls, and what the window refuses is
// refused with its own text while nothing has started.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <map>

#include "app/main_window.h"
#include "app/run_settings.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/camera_support.h"
#include "tests/support/test_support.h"

using app::Form1;
using app::RunSettings;

namespace {

const QString kSound = QString::fromUtf8("Выход сценария");

class RunSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gst::RegisterVirtualSoundDevice(kSound, dir_.filePath(QStringLiteral("tone.wav")));
  }
  void TearDown() override {
    gst::ClearVirtualSoundDevices();
    testing_support::FlushDeferredDeletes();
  }
  // Nothing runs: no tone, no camera, no run folder, and the start still offered.
  static void ExpectNothingStarted(Form1& form) {
    EXPECT_EQ(form.Gen().WaveOutHandle, 0u);
    EXPECT_EQ(form.CameraOn(), 0);
    EXPECT_TRUE(form.Recorder().Names().PictureFolder.isEmpty());
    EXPECT_FALSE(form.Timer1->isActive());
  }

  QTemporaryDir dir_;
  testing_support::VirtualCameras cameras_;
  testing_support::MessageBoxRecorder boxes_;
};

// Numbers are written with '.' on the command line in every locale; the window's boxes get
// them as the session's locale writes them.
TEST_F(RunSettingsTest, EachOptionReachesItsControlInEveryLocaleAndNothingStarts) {
  Form1 form;
  RunSettings run;
  run.soundDevice = QStringLiteral("сценария");  // a unique part of the name
  run.camera = QStringLiteral("mjpeg");
  run.numerator = QStringLiteral("20");
  run.denominator = QStringLiteral("4");
  run.amplitude = QStringLiteral("50");
  run.triangle = true;
  run.phase270 = true;
  run.sampleRate = QStringLiteral("44100");
  run.every = QStringLiteral("3");
  run.showPictures = true;
  ASSERT_EQ(app::ApplyRunSettings(form, run), QString());
  EXPECT_EQ(form.Combo1->currentText(), kSound);
  EXPECT_EQ(form.Label1->text(), QString::fromUtf8("формат этим устройством поддерживается"));
  EXPECT_EQ(form.Text15->text(), QStringLiteral("44100"));
  EXPECT_EQ(form.Gen().SampleRate, 44100);
  EXPECT_EQ(form.Text4->text(), QStringLiteral("20"));
  EXPECT_EQ(form.Text27->text(), QStringLiteral("4"));
  EXPECT_EQ(form.Text5->text(), QStringLiteral("50"));
  EXPECT_TRUE(form.Option2->isChecked());
  EXPECT_FALSE(form.Option1->isChecked());
  EXPECT_TRUE(form.Option4->isChecked());
  EXPECT_TRUE(form.Option5->isChecked());
  EXPECT_EQ(form.Text7->text(), QStringLiteral("3"));
  EXPECT_TRUE(form.Check2->isChecked());
  EXPECT_TRUE(form.Check3->isChecked());
  EXPECT_TRUE(form.Command20->isEnabled());
  ExpectNothingStarted(form);
  EXPECT_TRUE(boxes_.Calls().empty());

  // The other choice of each pair, the Timer 1 mode, and the window's own values for what is
  // not given.
  Form1 other;
  RunSettings timer;
  timer.soundDevice = kSound;
  timer.triangle = false;
  timer.phase270 = false;
  timer.timer = QStringLiteral("0.5");
  ASSERT_EQ(app::ApplyRunSettings(other, timer), QString());
  EXPECT_TRUE(other.Option1->isChecked());
  EXPECT_TRUE(other.Option3->isChecked());
  EXPECT_TRUE(other.Option6->isChecked());
  EXPECT_EQ(other.Text20->text(), QLocale().toString(0.5));
  EXPECT_EQ(other.Generator().Timer1Interval(), 500);
  EXPECT_EQ(other.Text4->text(), QStringLiteral("2"));
  EXPECT_EQ(other.Text27->text(), QStringLiteral("2"));
  EXPECT_FALSE(other.Check3->isChecked());
  ExpectNothingStarted(other);
}

TEST_F(RunSettingsTest, WhatTheWindowRefusesComesBackAsItsTextInEveryLocaleBeforeAnythingStarts) {
  const QString failure = QString::fromUtf8("Ошибка в работе программы");
  struct Refused {
    const char* what;
    std::function<void(RunSettings&)> set;
    QString text;
  };
  const std::vector<Refused> cases = {
      {"tone below 2 Hz", [](RunSettings& r) { r.numerator = QStringLiteral("1"); },
       QString::fromUtf8("Частота не может быть задана меньше 2 Гц")},
      {"odd denominator", [](RunSettings& r) { r.denominator = QStringLiteral("3"); },
       QString::fromUtf8("Знаменатель у частоты не может быть меньше 2 и должен быть кратен 2")},
      {"NC0 of 0", [](RunSettings& r) { r.every = QStringLiteral("0"); },
       QString::fromUtf8("NC0 не может быть меньше 1")},
      {"tone that is no number", [](RunSettings& r) { r.numerator = QStringLiteral("abc"); },
       failure},
      {"tone of 0 Hz", [](RunSettings& r) { r.numerator = QStringLiteral("0"); }, failure},
      {"NC0 beyond 32 bits", [](RunSettings& r) { r.every = QStringLiteral("99999999999"); },
       failure},
      {"amplitude that is no number", [](RunSettings& r) { r.amplitude = QStringLiteral("x"); },
       failure},
      // The start finds these only once the device is open; the script asks before.
      {"amplitude past a sample's range",
       [](RunSettings& r) { r.amplitude = QStringLiteral("101"); },
       QString::fromUtf8("--amplitude 101: above 100 %, the samples would overflow; the window "
                         "says: Частота дискретизации не делится на 2 без остатка")},
      {"buffer longer than the device can be given",
       [](RunSettings& r) { r.denominator = QStringLiteral("2000"); }, failure},
      {"triangle of a fractional frequency",
       [](RunSettings& r) {
         r.numerator = QStringLiteral("2.5");
         r.triangle = true;
       },
       QString::fromUtf8("Частота дискретизации не делится на 2 без остатка")},
      {"timer of 0 s", [](RunSettings& r) { r.timer = QStringLiteral("0"); }, failure},
      {"sample rate that is no number", [](RunSettings& r) { r.sampleRate = QStringLiteral("x"); },
       failure},
      {"sound device not listed", [](RunSettings& r) { r.soundDevice = QStringLiteral("nope"); },
       QStringLiteral("no sound device matches \"nope\"; --list-devices shows them")},
      {"camera not listed", [](RunSettings& r) { r.camera = QStringLiteral("nope"); },
       QStringLiteral("no camera matches \"nope\"; --list-devices shows them")},
      {"camera named by a part of two",
       [](RunSettings& r) { r.camera = QStringLiteral("Test camera"); },
       QStringLiteral("\"Test camera\" matches several cameras: Test camera YUY2, Test camera "
                      "MJPEG")},
  };
  for (const Refused& refused : cases) {
    SCOPED_TRACE(refused.what);
    Form1 form;
    RunSettings run;
    run.soundDevice = kSound;
    refused.set(run);
    EXPECT_EQ(app::ApplyRunSettings(form, run), refused.text);
    ExpectNothingStarted(form);
  }
  // The refusals were answers, not boxes on the operator's screen.
  EXPECT_TRUE(boxes_.Calls().empty());
}

// Controls as a V4L2 webcam reports them, answering as the camera would: a value it takes and
// keeps, one it refuses, one it keeps another of.
class WebcamControls : public gst::CameraControls {
 public:
  WebcamControls() {
    gst::ControlInfo brightness;
    brightness.id = 1;
    brightness.name = QStringLiteral("Brightness");
    brightness.minimum = -64;
    brightness.maximum = 64;
    brightness.defaultValue = 0;
    gst::ControlInfo exposure = brightness;
    exposure.id = 2;
    exposure.name = QStringLiteral("Exposure Time, Absolute");
    exposure.minimum = 1;
    exposure.maximum = 5000;
    exposure.defaultValue = 156;
    gst::ControlInfo automatic;
    automatic.id = 3;
    automatic.name = QStringLiteral("Auto Exposure");
    automatic.type = gst::ControlInfo::Menu;
    automatic.minimum = 1;
    automatic.maximum = 3;
    automatic.defaultValue = 3;
    automatic.menu = {{1, QStringLiteral("Manual Mode")},
                      {3, QStringLiteral("Aperture Priority Mode")}};
    gst::ControlInfo reset = brightness;
    reset.id = 4;
    reset.name = QStringLiteral("Pan/Tilt Reset");
    reset.type = gst::ControlInfo::Button;
    info_ = {brightness, exposure, automatic, reset};
    values_ = {{1, 0}, {2, 160}, {3, 3}};
  }
  std::vector<gst::ControlInfo> List() override { return info_; }
  std::optional<int> Get(std::uint32_t id) override {
    const auto found = values_.find(id);
    return found == values_.end() ? std::nullopt : std::optional<int>(found->second);
  }
  bool Set(std::uint32_t id, int value) override {
    ++sets_;
    // The exposure time is the automatic mode's while that is on; the camera says busy.
    if (id == 2 && values_[3] != 1) return false;
    // It takes exposure times in steps of 10.
    values_[id] = id == 2 ? value / 10 * 10 : value;
    return true;
  }
  int sets_ = 0;
  std::map<std::uint32_t, int> values_;

 private:
  std::vector<gst::ControlInfo> info_;
};

TEST(CameraControls, EachValueIsSetInOrderAndReadBackAndARefusalSaysWhichAndWhy) {
  using Settings = std::vector<std::pair<QString, QString>>;
  WebcamControls camera;
  QStringList applied;
  // A menu entry by name (the key's spelling too), then the time it unlocks; the name as
  // the camera writes it serves as its key does.
  EXPECT_EQ(app::ApplyCameraControls(camera,
                                     Settings{{"auto_exposure", "manual_mode"},
                                              {"Exposure Time, Absolute", "250"},
                                              {"brightness", "-64"}},
                                     &applied),
            QString());
  EXPECT_EQ(applied,
            (QStringList{"auto_exposure = 1", "exposure_time_absolute = 250", "brightness = -64"}));
  EXPECT_EQ(camera.values_[3], 1);
  EXPECT_EQ(camera.values_[2], 250);

  const std::vector<std::pair<Settings, QString>> refused = {
      {{{"gain", "3"}},
       "--control gain=3: the camera has no such control; --list-controls lists them"},
      {{{"brightness", "65"}}, "--control brightness=65: outside its range -64..64"},
      {{{"brightness", "bright"}}, "--control brightness=bright: not a whole number"},
      {{{"auto_exposure", "2"}},
       "--control auto_exposure=2: no such entry; the entries are 1 (Manual Mode), 3 (Aperture "
       "Priority Mode)"},
      {{{"pan_tilt_reset", "1"}}, "--control pan_tilt_reset=1: a button, which holds no value"},
      // The order counts: the time before the manual mode is refused by the camera.
      {{{"auto_exposure", "3"}, {"exposure_time_absolute", "250"}},
       "--control exposure_time_absolute=250: the camera refuses it"},
      {{{"auto_exposure", "1"}, {"exposure_time_absolute", "255"}},
       "--control exposure_time_absolute=255: the camera holds 250 instead"},
  };
  for (const auto& [settings, text] : refused) {
    SCOPED_TRACE(text.toStdString());
    WebcamControls fresh;
    EXPECT_EQ(app::ApplyCameraControls(fresh, settings, nullptr), text);
    // A refusal leaves the camera as it was, the values set before it put back.
    EXPECT_EQ(fresh.values_, WebcamControls().values_);
  }
  // Nothing of a value refused before the camera is asked reaches it.
  WebcamControls untouched;
  app::ApplyCameraControls(untouched, Settings{{"brightness", "100"}}, nullptr);
  EXPECT_EQ(untouched.sets_, 0);
}

TEST(CameraControls, AListedLineNamesTheKeyTypeRangeOrMenuDefaultAndValueNow) {
  WebcamControls camera;
  const std::vector<gst::ControlInfo> info = camera.List();
  EXPECT_EQ(app::ControlLine(info[0], 10),
            "brightness: integer -64..64, step 1, default 0, now 10");
  EXPECT_EQ(app::ControlLine(info[2], 3),
            "auto_exposure: menu 1 = Manual Mode, 3 = Aperture Priority Mode, default 3, now 3");
  EXPECT_EQ(app::ControlLine(info[1], std::nullopt),
            "exposure_time_absolute: integer 1..5000, step 1, default 156, now unreadable");
  EXPECT_EQ(app::ControlLine(info[3], std::nullopt), "pan_tilt_reset: button");
}

TEST(FindName, AnExactNameWinsOverPartsAndAPartMustBeUnique) {
  const QStringList names = {"USB Camera", "USB Camera HD", "Built-in"};
  QString why;
  EXPECT_EQ(app::FindName(names, QStringLiteral("USB Camera"), QStringLiteral("camera"), &why), 0);
  EXPECT_EQ(app::FindName(names, QStringLiteral("hd"), QStringLiteral("camera"), &why), 1);
  EXPECT_EQ(app::FindName(names, QStringLiteral("usb"), QStringLiteral("camera"), &why), -1);
  EXPECT_EQ(why, QStringLiteral("\"usb\" matches several cameras: USB Camera, USB Camera HD"));
}

}  // namespace

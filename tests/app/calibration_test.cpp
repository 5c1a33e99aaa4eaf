// The camera's delay measured on the test camera's scene, whose true delay is known: the
// delay found and stored for the camera's set-up, one longer than a tone period, a scene that
// does not follow the tone refused, and the window's tone settings left as they were.

#include <gtest/gtest.h>

#include <QDialog>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTest>

#include "app/camera_calibration.h"
#include "platform/forms/dialog.h"
#include "platform/gst/camera_delay.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/test_scene.h"
#include "tests/support/camera_support.h"
#include "tests/support/main_window_fixture.h"

namespace {

using testing_support::WaitFor;

class CameraCalibrationTest : public testing_support::MainWindowFixture {
 protected:
  void TearDown() override {
    gst::SetTestSceneSettings(saved_);
    testing_support::MainWindowFixture::TearDown();
  }

  // The capture window's camera filming a scene of this delay and exposure.
  void CameraOn(double delayMs, double exposureMs) {
    gst::SceneSettings scene = saved_;
    scene.delayMs = delayMs;
    scene.exposureMs = exposureMs;
    scene.jitterMs = 1;
    gst::SetTestSceneSettings(scene);
    QTest::mouseClick(form->Command11, Qt::LeftButton);
    ASSERT_EQ(form->CameraOn(), 1);
    ASSERT_TRUE(
        WaitFor([&] { return testing_support::RecordingCameraDelivers(form->Camera()); }, 5000));
    // A delay an earlier test stored in this process's settings is no answer of this one.
    gst::ForgetDelay(gst::SetupOf(form->Camera().RecordingCamera()));
    ChooseVirtualDevice();
  }

  const gst::SceneSettings saved_ = gst::TestSceneSettings();
  testing_support::VirtualCameras cameras_;
};

TEST_F(CameraCalibrationTest, FindsTheScenesDelayAndStoresItForTheCamerasSetUp) {
  CameraOn(60, 10);
  form->Text4->setText(QStringLiteral("7"));
  form->Text27->setText(QStringLiteral("2"));
  form->Check2->setChecked(true);
  const app::CalibrationOutcome outcome = app::CalibrateCamera(*form, 8);
  ASSERT_TRUE(outcome.stored) << outcome.message.toStdString();
  ASSERT_TRUE(outcome.delay);
  EXPECT_NEAR(outcome.delay->delayMs, 60, 1.5);
  // The message names the set-up the delay is stored for.
  EXPECT_TRUE(outcome.message.contains(QStringLiteral(" для Test camera YUY2, ")) &&
              outcome.message.endsWith(QStringLiteral(" @ 30 fps")))
      << outcome.message.toStdString();
  EXPECT_GT(outcome.delay->uncertaintyMs, 0);
  EXPECT_LT(outcome.delay->uncertaintyMs, 1.5);
  EXPECT_DOUBLE_EQ(outcome.delay->exposureMs, 10);  // read from the camera's exposure
  EXPECT_GT(outcome.frames, 100);
  EXPECT_TRUE(outcome.message.startsWith(
      QStringLiteral("Задержка камеры %1 \u00B1 ").arg(outcome.delay->delayMs, 0, 'f', 1)))
      << outcome.message.toStdString();
  EXPECT_TRUE(boxes.Calls().empty());
  // What the operator had set is back.
  EXPECT_EQ(form->Text4->text(), QStringLiteral("7"));
  EXPECT_EQ(form->Text27->text(), QStringLiteral("2"));
  EXPECT_TRUE(form->Check2->isChecked());

  // Stored for this camera, format and exposure, and for no other.
  const gst::CameraPipeline& camera = form->Camera().RecordingCamera();
  const gst::CameraSetup setup = gst::SetupOf(camera);
  const std::optional<gst::CameraDelay> stored = gst::StoredDelay(setup);
  ASSERT_TRUE(stored);
  EXPECT_DOUBLE_EQ(stored->delayMs, outcome.delay->delayMs);
  EXPECT_FALSE(gst::StoredDelay(gst::SetupOf(camera.Camera(), camera.Format(), 20.0)));
  EXPECT_FALSE(gst::StoredDelay(gst::SetupOf(camera.Camera(), camera.Format(), std::nullopt)));
  gst::CameraFormat other = camera.Format();
  other.rates = {{15, 1}};
  EXPECT_FALSE(gst::StoredDelay(gst::SetupOf(camera.Camera(), other, setup.exposureMs)));
  gst::CameraDevice another = camera.Camera();
  another.name += QStringLiteral(" 2");
  EXPECT_FALSE(gst::StoredDelay(gst::SetupOf(another, camera.Format(), setup.exposureMs)));
}

// Longer than a period of either tone (about 0.25 s): unfolded by the two tones together.
TEST_F(CameraCalibrationTest, ADelayLongerThanATonePeriodIsNotFolded) {
  CameraOn(330, 4);
  const app::CalibrationOutcome outcome = app::CalibrateCamera(*form, 8);
  ASSERT_TRUE(outcome.stored) << outcome.message.toStdString();
  EXPECT_NEAR(outcome.delay->delayMs, 330, 1.5);
}

// A silent tone lights nothing and moves nothing: no delay, and nothing stored.
TEST_F(CameraCalibrationTest, ASceneThatDoesNotFollowTheToneIsRefusedWithItsReason) {
  CameraOn(40, 10);
  form->Text5->setText(QStringLiteral("0"));
  const app::CalibrationOutcome outcome = app::CalibrateCamera(*form, 6);
  EXPECT_FALSE(outcome.stored);
  EXPECT_FALSE(outcome.delay);
  EXPECT_TRUE(outcome.message.contains(QStringLiteral("нет области")))
      << outcome.message.toStdString();
  EXPECT_FALSE(gst::StoredDelay(gst::SetupOf(form->Camera().RecordingCamera())));
}

TEST_F(CameraCalibrationTest, WithoutACameraItSaysSoAndPlaysNothing) {
  ChooseVirtualDevice();
  const QString numerator = form->Text4->text();
  const app::CalibrationOutcome outcome = app::CalibrateCamera(*form, 6);
  EXPECT_FALSE(outcome.stored);
  EXPECT_TRUE(outcome.message.contains(QStringLiteral("камера не включена")));
  EXPECT_EQ(form->Text4->text(), numerator);
}

// The operator's way: the page of the camera's properties asks, its dialog closes, the window
// runs the calibration and shows the result; the page then tells the stored delay and forgets
// it on request.
TEST_F(CameraCalibrationTest, ThePropertiesPageMeasuresAfterItsDialogHasClosed) {
  CameraOn(40, 10);
  QString stored;
  int shown = 0;
  const forms::DialogFunction previous = forms::SetDialogFunction([&](QDialog& dialog) {
    ++shown;
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("StoredDelay"));
    if (label) stored = label->text();
    auto* seconds = dialog.findChild<QSpinBox*>(QStringLiteral("CalibrationSeconds"));
    auto* measure = dialog.findChild<QPushButton*>(QStringLiteral("MeasureDelay"));
    auto* forget = dialog.findChild<QPushButton*>(QStringLiteral("ForgetDelay"));
    if (!seconds || !measure || !forget) return int(QDialog::Rejected);
    if (shown == 1) {
      seconds->setValue(6);
      measure->click();  // closes the dialog; the calibration comes after
      return dialog.result();
    }
    forget->click();
    if (label) stored += QStringLiteral(" | ") + label->text();
    return int(QDialog::Rejected);
  });
  QTest::mouseClick(form->Command15, Qt::LeftButton);
  EXPECT_TRUE(stored.startsWith(QStringLiteral("Задержка не измерена"))) << stored.toStdString();
  ASSERT_TRUE(WaitFor([&] { return !boxes.Calls().empty(); }, 20000));
  EXPECT_TRUE(boxes.Calls()[0].text.startsWith(QStringLiteral("Задержка камеры ")))
      << boxes.Calls()[0].text.toStdString();
  const std::optional<gst::CameraDelay> delay =
      gst::StoredDelay(gst::SetupOf(form->Camera().RecordingCamera()));
  ASSERT_TRUE(delay);
  EXPECT_NEAR(delay->delayMs, 40, 2);
  QTest::mouseClick(form->Command15, Qt::LeftButton);
  forms::SetDialogFunction(previous);
  EXPECT_TRUE(stored.startsWith(QStringLiteral("Задержка камеры: "))) << stored.toStdString();
  EXPECT_TRUE(stored.contains(QStringLiteral(" | Задержка не измерена")));
  EXPECT_FALSE(gst::StoredDelay(gst::SetupOf(form->Camera().RecordingCamera())));
}

// A settings file edited by hand: a delay that is no number is no delay, and says why.
TEST(CameraDelayStore, AStoredValueThatIsNoNumberIsIgnoredWithATrace) {
  const gst::CameraSetup setup{.camera = QStringLiteral("Cam / 1"),
                               .format = QStringLiteral("MJPEG 1280 x 720 @ 60 fps"),
                               .exposure = QStringLiteral("auto"),
                               .shown = QString(),
                               .exposureMs = std::nullopt};
  ASSERT_TRUE(gst::StoreDelay(setup, {.delayMs = 35.5,
                                      .uncertaintyMs = 0.25,
                                      .exposureMs = 0,
                                      .measured = QDateTime::currentDateTimeUtc()}));
  ASSERT_TRUE(gst::StoredDelay(setup));
  EXPECT_DOUBLE_EQ(gst::StoredDelay(setup)->delayMs, 35.5);
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Strobolux"),
                     QStringLiteral("strobolux"));
  QString group;
  for (const QString& key : settings.allKeys())
    if (key.contains(QStringLiteral("Cam %2F 1")) && key.endsWith(QStringLiteral("/delay-ms")))
      group = key.chopped(9);
  ASSERT_FALSE(group.isEmpty());
  settings.setValue(group + QStringLiteral("/delay-ms"), QStringLiteral("forty"));
  settings.sync();
  testing_support::LogRecorder traces;
  EXPECT_FALSE(gst::StoredDelay(setup));
  ASSERT_EQ(traces.Lines().size(), 1);
  EXPECT_TRUE(traces.Lines()[0].contains(QStringLiteral("is not a number of milliseconds")));
  gst::ForgetDelay(setup);
  const QSettings after(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Strobolux"),
                        QStringLiteral("strobolux"));
  EXPECT_TRUE(after.allKeys().filter(QStringLiteral("delay-ms")).isEmpty());
}

}  // namespace

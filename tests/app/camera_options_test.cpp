// The camera's settings from the command line: its format and controls reach the running
// camera on either back end, what the camera does not offer is refused before a run folder
// exists, and the format chosen in a format dialog is the camera's next time.

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <optional>

#include "app/startup_options.h"
#include "platform/graph/video_devices.h"
#include "platform/gst/format_choice.h"
#include "platform/gst/format_dialog.h"
#include "platform/gst/user_settings.h"
#include "platform/gst/virtual_devices.h"
#include "tests/app/program_run.h"

namespace {

using testing_support::Field;
using testing_support::Fields;
using testing_support::Finished;
using testing_support::RunProgram;

std::string Said(const Finished& run) {
  return (run.out + run.err).join(QLatin1Char('\n')).toStdString();
}

// A program folder with the options its runs share; Runs() are the run folders made in it.
struct RunFolder : testing_support::ProgramFolder {
  QStringList Common() const {
    return {"--demo",
            "--program-folder",
            dir.path(),
            "--sound-device",
            QStringLiteral("Встроенный"),
            "--tone",
            "10/2",
            "--every",
            "4"};
  }
  qsizetype Runs() const {
    return QDir(dir.filePath(QStringLiteral("Risunki")))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
  }
};

// A remembered format of a camera that lasts as long as the object.
class RememberedFormat {
 public:
  RememberedFormat(const gst::CameraDevice& camera, const QString& choice) : camera_(camera) {
    QString error;
    const std::optional<gst::FormatChoice> parsed = gst::ParseFormatChoice(choice, &error);
    const std::optional<gst::CameraFormat> format =
        parsed ? gst::FindFormat(camera, *parsed) : std::nullopt;
    if (format) gst::RememberFormat(camera, *format, format->rates.front());
  }
  ~RememberedFormat() {
    QSettings settings = gst::UserSettings();
    settings.remove(QStringLiteral("camera-formats"));
    settings.sync();
  }
  RememberedFormat(const RememberedFormat&) = delete;
  RememberedFormat& operator=(const RememberedFormat&) = delete;

 private:
  gst::CameraDevice camera_;
};

gst::CameraFormat Format(const char* media, const char* pixels, int width, int height) {
  return {
      QString::fromLatin1(media), QString::fromLatin1(pixels), width, height, {{30, 1}, {15, 1}}};
}

// A webcam of three formats, as the device monitor would list it.
gst::CameraDevice Webcam(const char* name) {
  gst::CameraDevice camera;
  camera.name = QString::fromLatin1(name);
  camera.formats = {Format("image/jpeg", "", 640, 480), Format("video/x-raw", "YUY2", 640, 480),
                    Format("video/x-raw", "YUY2", 320, 240)};
  return camera;
}

TEST(CameraOptions, ReadsEachCameraSettingAndRefusesAMalformedOneInItsOwnWords) {
  QString error;
  auto options = app::ParseStartupOptions(
      {"--run", "5", "--back-end", "graph", "--camera-format", "1280X720@29.97/MJPEG", "--control",
       "auto_exposure=Manual Mode", "--control", "exposure_time_absolute = 250", "--lock-exposure",
       "--frames", "grey"},
      QString(), &error);
  ASSERT_TRUE(options) << error.toStdString();
  ASSERT_TRUE(options->run && options->run->cameraFormat);
  const gst::FormatChoice& format = *options->run->cameraFormat;
  EXPECT_TRUE(format.jpeg);
  EXPECT_EQ(format.width, 1280);
  EXPECT_EQ(format.height, 720);
  EXPECT_DOUBLE_EQ(format.fps, 29.97);
  EXPECT_EQ(options->run->controls,
            (std::vector<std::pair<QString, QString>>{{"auto_exposure", "Manual Mode"},
                                                      {"exposure_time_absolute", "250"}}));
  EXPECT_TRUE(options->run->lockExposure);
  EXPECT_EQ(options->run->frames, recording::FrameFiles::Grey);
  // "none" overrides the window's choice.
  options = app::ParseStartupOptions({"--run", "5", "--frames", "none"}, QString(), &error);
  ASSERT_TRUE(options) << error.toStdString();
  EXPECT_EQ(options->run->frames, recording::FrameFiles::None);

  // A raw format's name in any case, spelled as GStreamer spells it.
  for (const auto& [typed, spelled] :
       {std::pair{"640x480@15/yuy2", "YUY2"}, std::pair{"640x480@15/bgrx", "BGRx"}}) {
    options = app::ParseStartupOptions({"--run", "5", "--camera-format", typed}, QString(), &error);
    ASSERT_TRUE(options) << error.toStdString();
    EXPECT_FALSE(options->run->cameraFormat->jpeg);
    EXPECT_EQ(options->run->cameraFormat->format, QString::fromLatin1(spelled));
  }
  options = app::ParseStartupOptions({"--list-controls", "--demo", "--camera", "MJPEG"}, QString(),
                                     &error);
  ASSERT_TRUE(options) << error.toStdString();
  EXPECT_TRUE(options->listControls);
  EXPECT_EQ(options->listControlsCamera, QStringLiteral("MJPEG"));
  EXPECT_FALSE(options->run);

  const QString usage = QStringLiteral(
      "--camera-format is WxH@FPS/COMPRESSION, e.g. 1280x720@30/mjpeg or 640x480@15/yuy2");
  const std::vector<std::pair<QStringList, QString>> wrong = {
      {{"--camera-format", "1280x720"}, usage},
      {{"--camera-format", "1280x720@30"}, usage},
      {{"--camera-format", "x720@30/mjpeg"}, usage},
      {{"--camera-format", "1280x720@0/mjpeg"}, usage},
      {{"--camera-format", "1280x720@30,5/mjpeg"}, usage},
      {{"--camera-format", "1280x720@30/h264"},
       "--camera-format: \"h264\" is neither mjpeg nor a raw pixel format (yuy2, nv12, i420, "
       "...)"},
      {{"--control", "brightness"},
       "--control is NAME=VALUE, a control as --list-controls prints it (brightness=10)"},
      {{"--control", "=5"},
       "--control is NAME=VALUE, a control as --list-controls prints it (brightness=10)"},
      {{"--frames", "colour"}, "--frames is rgb, grey or none"},
  };
  for (const auto& [arguments, text] : wrong) {
    SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
    EXPECT_FALSE(
        app::ParseStartupOptions(QStringList{"--run", "5"} + arguments, QString(), &error));
    EXPECT_EQ(error, text);
  }
  for (const QStringList& misplaced :
       {QStringList{"--camera-format", "640x480@15/yuy2"}, QStringList{"--formats"},
        QStringList{"--list-controls", "--run", "5"},
        QStringList{"--list-controls", "--tone", "10/2"},
        QStringList{"--calibrate-camera", "10", "--frames", "rgb"}}) {
    SCOPED_TRACE(misplaced.join(QLatin1Char(' ')).toStdString());
    EXPECT_FALSE(app::ParseStartupOptions(misplaced, QString(), &error));
  }
  // The program says it and ends as for any wrong argument.
  const Finished malformed =
      RunProgram({"--run", "5", "--demo", "--camera-format", "640x480/yuy2"});
  EXPECT_EQ(malformed.status, 2);
  EXPECT_EQ(malformed.err, QStringList{QStringLiteral("strobolux: ") + usage});
}

TEST(CameraOptions, FormatsAndControlsAreListedAsTheCameraOffersThem) {
  const Finished devices = RunProgram({"--list-devices", "--formats", "--demo"});
  ASSERT_EQ(devices.status, 0) << Said(devices);
  const auto mjpeg = devices.out.indexOf(QStringLiteral("camera: Test camera MJPEG"));
  ASSERT_GE(mjpeg, 0) << Said(devices);
  const QStringList under = devices.out.mid(mjpeg + 1);
  EXPECT_TRUE(under.contains(QStringLiteral("  MJPEG 1280 x 720 @ 60, 30, 29.97, 15 fps")))
      << Said(devices);
  EXPECT_TRUE(under.contains(QStringLiteral("  YUY2 640 x 480 @ 60, 30, 29.97, 15 fps")))
      << Said(devices);
  // Without --formats, one line a device as before.
  const Finished plain = RunProgram({"--list-devices", "--demo"});
  EXPECT_FALSE(plain.out.join('\n').contains(QStringLiteral("fps")));

  const Finished controls = RunProgram({"--list-controls", "--demo", "--camera", "MJPEG"});
  ASSERT_EQ(controls.status, 0) << Said(controls);
  ASSERT_FALSE(controls.out.isEmpty());
  EXPECT_EQ(controls.out.first(), QStringLiteral("camera: Test camera MJPEG"));
  const QRegularExpression line(QStringLiteral(
      R"(^  brightness: integer -?\d+\.\.-?\d+, step \d+, default -?\d+, now -?\d+$)"));
  EXPECT_EQ(controls.out.filter(line).size(), 1) << Said(controls);

  const Finished unknown = RunProgram({"--list-controls", "--demo", "--camera", "no such"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err,
            QStringList{QStringLiteral(
                "strobolux: no camera matches \"no such\"; --list-devices shows them")});
}

// The brightness range a camera lists, and a value in it other than the one it holds.
struct Brightness {
  int minimum = 0, maximum = 0, other = 0;
};
std::optional<Brightness> ListedBrightness(const char* camera) {
  const Finished listed = RunProgram({"--list-controls", "--demo", "--camera", camera});
  const QRegularExpression pattern(
      QStringLiteral(R"(^  brightness: integer (-?\d+)\.\.(-?\d+), step (\d+), .*, now (-?\d+)$)"));
  for (const QString& text : listed.out) {
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) continue;
    Brightness brightness{match.captured(1).toInt(), match.captured(2).toInt(), 0};
    const int step = std::max(1, match.captured(3).toInt());
    const int now = match.captured(4).toInt();
    brightness.other =
        brightness.minimum + step == now ? brightness.minimum : brightness.minimum + step;
    return brightness;
  }
  return std::nullopt;
}

TEST(CameraOptions, TheFormatAndControlsGivenReachTheRunningCameraOnEitherBackEnd) {
  struct Case {
    const char* camera;
    const char* backEnd;
    const char* format;
    const char* delivered;
    QSize size;
    const char* frames;
  };
  for (const Case& c :
       {Case{
            "YUY2", "capture", "1280x720@10/yuy2", "YUY2 1280 x 720 @ 10 fps", {1280, 720}, "grey"},
        Case{"MJPEG", "graph", "320x240@15/mjpeg", "MJPEG 320 x 240 @ 15 fps", {320, 240}, "rgb"},
        // The capture window decodes an MJPEG camera too, at its full rate (640 x 480: a
        // sanitizer build on two cores does not decode 720p at 60 in time for every picture).
        Case{"MJPEG",
             "capture",
             "640x480@60/mjpeg",
             "MJPEG 640 x 480 @ 60 fps",
             {640, 480},
             "grey"}}) {
    SCOPED_TRACE(c.backEnd);
    const std::optional<Brightness> brightness = ListedBrightness(c.camera);
    ASSERT_TRUE(brightness);
    RunFolder folder;
    const Finished run = RunProgram(
        QStringList{"--run", "2", "--camera", c.camera, "--back-end", c.backEnd, "--camera-format",
                    c.format, "--control", QStringLiteral("brightness=%1").arg(brightness->other),
                    "--lock-exposure", "--frames", c.frames} +
        folder.Common());
    ASSERT_EQ(run.status, 0) << Said(run);
    EXPECT_EQ(Field(run.out, QStringLiteral("camera format")).toStdString(), c.delivered);
    EXPECT_EQ(Fields(run.out, QStringLiteral("camera control")),
              QStringList{QStringLiteral("brightness = %1").arg(brightness->other)});
    EXPECT_EQ(folder.Runs(), 1);
    // The camera's own frames, as --frames asked, are of the format's size.
    const QDir runFolder(Field(run.out, QStringLiteral("run folder")));
    const QStringList frames = runFolder.entryList({QStringLiteral("*.frame.png")}, QDir::Files);
    ASSERT_FALSE(frames.isEmpty());
    const QImage frame(runFolder.filePath(frames.first()));
    EXPECT_EQ(frame.size(), c.size);
    EXPECT_EQ(frame.format() == QImage::Format_Grayscale8, QLatin1String(c.frames) == "grey");
    // --lock-exposure held the camera for the run, and the record says so.
    QFile record(runFolder.filePath(QStringLiteral("run.json")));
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    const QJsonObject camera =
        QJsonDocument::fromJson(record.readAll()).object()[QStringLiteral("camera")].toObject();
    EXPECT_TRUE(camera[QStringLiteral("locked")].toBool());
    EXPECT_EQ(camera[QStringLiteral("controls_end")][QStringLiteral("brightness")].toInt(),
              brightness->other);
    EXPECT_EQ(
        camera[QStringLiteral("controls_end")][QStringLiteral("white_balance_automatic")].toInt(),
        0);
  }
}

TEST(CameraOptions, WhatTheCameraDoesNotOfferIsRefusedWithStatusTwoAndNoRunFolder) {
  const std::optional<Brightness> brightness = ListedBrightness("YUY2");
  ASSERT_TRUE(brightness);
  const std::vector<std::pair<QStringList, QString>> refused = {
      {{"--camera-format", "1920x1080@60/yuy2"},
       "--camera-format 1920x1080@60/YUY2: Test camera YUY2 does not offer it; --list-devices "
       "--formats lists its formats"},
      {{"--camera-format", "640x480@30/nv12"},
       "--camera-format 640x480@30/NV12: Test camera YUY2 does not offer it; --list-devices "
       "--formats lists its formats"},
      {{"--control", "no_such_control=1"},
       "--control no_such_control=1: the camera has no such control; --list-controls lists them"},
      {{"--control", QStringLiteral("brightness=%1").arg(brightness->maximum + 1)},
       QStringLiteral("--control brightness=%1: outside its range %2..%3")
           .arg(brightness->maximum + 1)
           .arg(brightness->minimum)
           .arg(brightness->maximum)},
      // Known only by trying: the camera refuses, and says what holds the value.
      {{"--control", "auto_exposure=Aperture Priority Mode", "--control",
        "exposure_time_absolute=200"},
       "--control exposure_time_absolute=200: its automatic mode holds it; set that mode to "
       "manual first (an earlier --control)"},
  };
  for (const char* backEnd : {"capture", "graph"}) {
    for (const auto& [settings, text] : refused) {
      SCOPED_TRACE(QStringLiteral("%1 %2").arg(backEnd, settings.join(' ')).toStdString());
      RunFolder folder;
      const Finished run =
          RunProgram(QStringList{"--run", "2", "--camera", "YUY2", "--back-end", backEnd} +
                     settings + folder.Common());
      EXPECT_EQ(run.status, 2) << Said(run);
      EXPECT_EQ(run.err.join('\n').toStdString(), ("strobolux: " + text).toStdString());
      EXPECT_TRUE(run.out.isEmpty()) << Said(run);
      EXPECT_EQ(folder.Runs(), 0);
    }
  }
}

// The format the operator chose for a camera is its format the next time, on either back end,
// until the command line forces another for a run.
TEST(CameraFormatChoice, AChosenFormatIsKeptUnderTheCamerasIdentityAndOpensItNextTime) {
  const gst::CameraDevice camera = Webcam("Format memory webcam");
  const gst::CameraDevice twin = Webcam("Another webcam");
  // Nothing chosen: the filter graph's own preference.
  EXPECT_EQ(graph::PreferredOrder(camera).front().Describe(), QStringLiteral("MJPEG 640 x 480"));
  // What the format dialogs keep when the operator accepts one.
  const gst::CameraFormat* small = camera.Find(true, 320, 240);
  ASSERT_TRUE(small);
  gst::RememberFormat(camera, *small, {15, 1});
  const std::optional<gst::CameraFormat> kept = gst::PreferredFormat(camera);
  ASSERT_TRUE(kept);
  EXPECT_EQ(gst::DescribeWithRates(*kept), QStringLiteral("YUY2 320 x 240 @ 15, 30 fps"));
  const std::vector<gst::CameraFormat> order = graph::PreferredOrder(camera);
  ASSERT_EQ(order.size(), camera.formats.size());  // every format still offered, once
  EXPECT_EQ(gst::DescribeWithRates(order.front()), QStringLiteral("YUY2 320 x 240 @ 15, 30 fps"));
  EXPECT_FALSE(gst::PreferredFormat(twin));  // kept for that camera alone

  // Forced for the process, where the camera offers it; the kept one where it does not.
  QString error;
  gst::ForceFormat(gst::ParseFormatChoice(QStringLiteral("640x480@30/yuy2"), &error));
  EXPECT_EQ(gst::DescribeWithRates(*gst::PreferredFormat(camera)),
            QStringLiteral("YUY2 640 x 480 @ 30, 15 fps"));
  gst::ForceFormat(gst::ParseFormatChoice(QStringLiteral("1920x1080@30/yuy2"), &error));
  EXPECT_EQ(gst::PreferredFormat(camera)->Describe(), QStringLiteral("YUY2 320 x 240"));
  gst::ForceFormat(std::nullopt);

  // A kept format the camera no longer offers, or a damaged entry, leaves it its default.
  gst::CameraDevice changed = camera;
  changed.formats.pop_back();
  EXPECT_FALSE(gst::PreferredFormat(changed));
  {
    QSettings settings = gst::UserSettings();
    for (const QString& key : settings.allKeys())
      if (key.startsWith(QLatin1String("camera-formats/")))
        settings.setValue(key, QStringLiteral("huge"));
  }
  EXPECT_FALSE(gst::PreferredFormat(camera));
  QSettings settings = gst::UserSettings();
  settings.remove(QStringLiteral("camera-formats"));
}

// A built-in camera's kept format is the one a run's camera opens in on either back end.
TEST(CameraFormatChoice, ARunsCameraOpensInItsKeptFormatUnlessTheRunForcesAnother) {
  const gst::CameraFormat yuy2 = Format("video/x-raw", "YUY2", 320, 240);
  gst::CameraDevice builtIn;
  builtIn.name = QString::fromLatin1(gst::kTestCameraYuy2);  // its identity: a name alone
  builtIn.formats = {yuy2};
  const RememberedFormat kept(builtIn, QStringLiteral("320x240@15/yuy2"));
  for (const char* backEnd : {"capture", "graph"}) {
    SCOPED_TRACE(backEnd);
    RunFolder folder;
    const Finished run = RunProgram(
        QStringList{"--run", "1", "--camera", "YUY2", "--back-end", backEnd} + folder.Common());
    ASSERT_EQ(run.status, 0) << Said(run);
    EXPECT_EQ(Field(run.out, QStringLiteral("camera format")).toStdString(),
              "YUY2 320 x 240 @ 15 fps");
  }
  RunFolder folder;
  const Finished forced = RunProgram(
      QStringList{"--run", "1", "--camera", "YUY2", "--camera-format", "640x480@30/yuy2"} +
      folder.Common());
  ASSERT_EQ(forced.status, 0) << Said(forced);
  EXPECT_EQ(Field(forced.out, QStringLiteral("camera format")).toStdString(),
            "YUY2 640 x 480 @ 30 fps");
}

}  // namespace

// The program on what a Debian desktop runs: a PipeWire sound server with pipewire-pulse, a
// camera served by PipeWire, a Wayland compositor. Each test starts a private session of
// its own (ctest runs every test in a process of its own, so GStreamer's device providers
// meet only that session); where a daemon cannot start, the test says why and is skipped.

#include <gst/app/gstappsink.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <optional>

#include "app/main_window.h"
#include "platform/capture/capture.h"
#include "platform/capture/capture_window.h"
#include "platform/forms/dialog.h"
#include "platform/gst/camera_devices.h"
#include "platform/gst/gst_util.h"
#include "platform/wave/wave_out.h"
#include "tests/desktop/desktop_session.h"
#include "tests/support/avi_file.h"
#include "tests/support/camera_support.h"
#include "tests/support/camera_switch.h"
#include "tests/support/main_window_fixture.h"
#include "tests/support/video_support.h"

namespace {

using testing_support::DesktopSession;
using testing_support::MeanDifference;
using testing_support::RunEventsFor;
using testing_support::WaitFor;

const QString kError = QStringLiteral("Ошибка в работе программы");
const QString kCamera = QString::fromUtf8(testing_support::kPipeWireCamera);
const QString kSink = QString::fromLatin1(testing_support::kLabSinkName);

// How many distinct colours a picture region holds: a panel background holds one.
int Colours(const QImage& image) {
  const QImage x = image.convertToFormat(QImage::Format_RGB32);
  QSet<QRgb> seen;
  for (int row = 0; row < x.height(); row += 2)
    for (int col = 0; col < x.width(); col += 2) seen.insert(x.pixel(col, row));
  return static_cast<int>(seen.size());
}

// A frame taken straight from the PipeWire node, at the size the program shows it.
QImage FrameFromTheNode(int width, int height) {
  gst::EnsureInitialized();
  const QString description =
      QStringLiteral(
          "pipewiresrc target-object=strobolux-lab-camera "
          "stream-properties=\"props,media.type=Video,media.category=Capture,media.role=Camera\" "
          "! videoconvert ! videoscale ! video/x-raw,format=BGRx,width=%1,height=%2 "
          "! appsink name=frames max-buffers=1 drop=true sync=false")
          .arg(width)
          .arg(height);
  GError* raw = nullptr;
  gst::ElementPtr pipeline(gst_parse_launch(description.toUtf8().constData(), &raw));
  const gst::ErrorPtr error(raw);
  if (!pipeline) return {};
  const gst::ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "frames"));
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  QImage frame;
  // The pattern settles after the first frames.
  for (int i = 0; i < 5; ++i) {
    const gst::SamplePtr sample(
        gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 5 * GST_SECOND));
    if (!sample) break;
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) break;
    frame = QImage(map.data, width, height, width * 4, QImage::Format_RGB32).copy();
    gst_buffer_unmap(buffer, &map);
  }
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  return frame;
}

class DesktopTest : public testing_support::MainWindowFixture {
 protected:
  void SetUp() override {
    if (!session.StartSound())
      GTEST_SKIP() << "no PipeWire session: " << session.Problem().toStdString();
    if (!session.StartCamera())
      GTEST_SKIP() << "no PipeWire camera: " << session.Problem().toStdString();
    testing_support::MainWindowFixture::SetUp();
  }

  int Rows(QComboBox* combo, const QString& text) const {
    int rows = 0;
    for (int i = 0; i < combo->count(); ++i) rows += combo->itemText(i) == text;
    return rows;
  }

  // The PipeWire camera on; its first frames are waited for where a test needs them.
  void CaptureWindowOn() { testing_support::CaptureWindowOn(*form, 0); }
  void FilterGraphOn() { testing_support::FilterGraphOn(*form, kCamera, 0); }
  // The clock mode at 10/2 Hz, a picture every 5 periods, with the tone on `soundRow`.
  void ClockSettings(int soundRow) {
    testing_support::ClickListRow(form->Combo1, soundRow);
    form->Option5->setChecked(true);
    form->Check2->setChecked(true);
    form->Text4->setText(QStringLiteral("10"));
    form->Text27->setText(QStringLiteral("2"));
    form->Text7->setText(QStringLiteral("5"));
  }
  QStringList Pictures() const {
    return QDir(form->Recorder().Names().PictureFolder)
        .entryList({QStringLiteral("*.bmp"), QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
  }

  DesktopSession session;  // outlives the window: the fixture's members go after TearDown
};

TEST_F(DesktopTest, EachSinkAndCameraIsListedOnceUnderTheNameTheDesktopShows) {
  // pipewire-pulse's sink is reported by the PulseAudio and the PipeWire providers both.
  EXPECT_EQ(Rows(form->Combo1, kSink), 1);
  int cameras = 0;
  for (const gst::CameraDevice& camera : gst::ListCameras()) {
    cameras += camera.name == kCamera;
    if (camera.name == kCamera) {
      EXPECT_TRUE(camera.viaPipeWire);
      EXPECT_FALSE(camera.formats.empty());  // sizes offered as ranges become camera sizes
    }
  }
  EXPECT_EQ(cameras, 1);

  QProcess program;
  program.start(QStringLiteral(STROBOLUX_EXECUTABLE), {QStringLiteral("--list-devices")});
  ASSERT_TRUE(program.waitForFinished(20000));
  const QString lines = QString::fromLocal8Bit(program.readAllStandardOutput());
  EXPECT_EQ(lines.count(QStringLiteral("sound device: ") + kSink + QLatin1Char('\n')), 1)
      << lines.toStdString();
  EXPECT_EQ(lines.count(QStringLiteral("camera: ") + kCamera + QLatin1Char('\n')), 1)
      << lines.toStdString();
}

struct BackEnd {
  const char* name;
  bool graph;
  bool jpeg;
};

class PipeWireCameraRun : public DesktopTest, public ::testing::WithParamInterface<BackEnd> {};

// The PipeWire camera's snapshot and pictures are its frames (a test pattern), not the
// panel's background.
TEST_P(PipeWireCameraRun, PicturesShowTheFramesOfTheNode) {
  const BackEnd param = GetParam();
  if (param.graph) {
    FilterGraphOn();
    (param.jpeg ? form->Option10 : form->Option9)->setChecked(true);
  } else {
    CaptureWindowOn();
  }
  // The node's first frames take their time on a loaded machine: the snapshot waits for them.
  ASSERT_TRUE(
      WaitFor([&] { return testing_support::RecordingCameraDelivers(form->Camera()); }, 20000))
      << "the PipeWire camera gave no frames";
  QTest::mouseClick(form->Command19, Qt::LeftButton);  // a snapshot first
  form->Recorder().WaitUntilWritten();
  const QStringList snapshots = QDir(ProgramFolder() + QStringLiteral("/SnapShot"))
                                    .entryList(QDir::Files | QDir::NoDotAndDotDot);
  ASSERT_EQ(snapshots.size(), 1);
  const QImage snapshot(ProgramFolder() + QStringLiteral("/SnapShot/") + snapshots[0]);
  EXPECT_GT(Colours(snapshot), 4);
  ClockSettings(VirtualRow());
  // Stopped once two pictures were taken (an instant every 0.5 s), however long the start
  // took: a timer counted from the click would leave fewer on a loaded machine.
  QTimer stopper;
  stopper.setInterval(20);
  QObject::connect(&stopper, &QTimer::timeout, form.get(), [&] {
    if (form->Gen().PictureNumber < 2) return;
    stopper.stop();
    form->Command4->click();
  });
  stopper.start();
  QTimer::singleShot(30000, form->Command4, &QPushButton::click);  // a clock that gives none
  form->Generator().Command20_Click();                             // returns after the stop
  stopper.stop();
  form->Recorder().WaitUntilWritten();
  EXPECT_TRUE(boxes.Calls().empty());
  const QStringList pictures = Pictures();
  ASSERT_GE(pictures.size(), 2);
  QTest::mouseClick(form->Command13, Qt::LeftButton);  // the node serves one client at a time
  RunEventsFor(300);
  const QImage reference = FrameFromTheNode(640, 480);
  ASSERT_FALSE(reference.isNull()) << "no frame straight from the node";
  for (const QString& name : pictures) {
    const QImage picture(form->Recorder().Names().PictureFolder + QLatin1Char('/') + name);
    ASSERT_FALSE(picture.isNull()) << name.toStdString();
    // The capture window's frame sits at its own size in the panel's corner; the filter
    // graph's is stretched to the panel.
    const QImage expected = param.graph ? reference.scaled(picture.size(), Qt::IgnoreAspectRatio,
                                                           Qt::SmoothTransformation)
                                        : reference.copy(QRect(QPoint(0, 0), picture.size()));
    // Below the stamp the picture is the camera's frame.
    const QRect below(0, 60, picture.width(), picture.height() - 60);
    EXPECT_GT(Colours(picture.copy(below)), 4) << name.toStdString();
    EXPECT_LT(MeanDifference(picture.copy(below), expected.copy(below)), 12) << name.toStdString();
    if (HasFailure()) {
      picture.save(QDir::temp().filePath(QStringLiteral("strobolux-picture.png")));
      expected.save(QDir::temp().filePath(QStringLiteral("strobolux-expected.png")));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BackEnds, PipeWireCameraRun,
                         ::testing::Values(BackEnd{"CaptureWindowBmp", false, false},
                                           BackEnd{"FilterGraphBmp", true, false},
                                           BackEnd{"FilterGraphJpeg", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The format dialog lists what the node offers; the properties dialog says in Russian why a
// camera served by PipeWire has no picture controls here.
TEST_F(DesktopTest, ThePipeWireCamerasDialogsShowItsFormatsAndSayWhyItHasNoControls) {
  CaptureWindowOn();
  QStringList formats;
  QString why;
  const forms::DialogFunction previous = forms::SetDialogFunction([&](QDialog& dialog) {
    if (auto* list = dialog.findChild<QListWidget*>())
      for (int i = 0; i < list->count(); ++i) formats << list->item(i)->text();
    if (auto* label = dialog.findChild<QLabel*>(QStringLiteral("NoControls"))) why = label->text();
    return int(QDialog::Rejected);
  });
  QTest::mouseClick(form->Command12, Qt::LeftButton);
  QTest::mouseClick(form->Command15, Qt::LeftButton);
  forms::SetDialogFunction(previous);
  EXPECT_TRUE(formats.contains(QStringLiteral("RGB 640 x 480, 30 кадр/с")))
      << formats.join('|').toStdString();
  EXPECT_TRUE(formats.contains(QStringLiteral("UYVY 1280 x 720, 30 кадр/с")))
      << formats.join('|').toStdString();
  EXPECT_TRUE(why.contains(QStringLiteral("PipeWire"))) << why.toStdString();
  EXPECT_TRUE(why.contains(QString::fromUtf8("настройки изображения"))) << why.toStdString();
}

// ---- devices that go away while they work ------------------------------------------------

TEST_F(DesktopTest, ASinkRemovedDuringARunStopsItWithTheSoundErrorAndANewStartWorks) {
  const int row = form->Combo1->findText(kSink);
  ASSERT_GE(row, 0);
  ClockSettings(row);
  form->Check2->setChecked(false);  // the tone alone
  QTimer::singleShot(1000, [&] { EXPECT_TRUE(session.UnloadSink()); });
  QTimer::singleShot(8000, form->Command4, &QPushButton::click);  // in case nothing fails
  QElapsedTimer elapsed;
  elapsed.start();
  form->Generator().Command20_Click();
  EXPECT_LT(elapsed.elapsed(), 7000);
  EXPECT_TRUE(form->Label12->text().startsWith(QStringLiteral(" Sound error: ")))
      << form->Label12->text().toStdString();
  ASSERT_TRUE(session.LoadSink());
  RunEventsFor(500);
  // The window answers, and the sink is there again to be chosen and started.
  form->Option6->setChecked(true);
  ASSERT_TRUE(form->Command20->isEnabled());
  form->Generator().Command20_Click();
  RunEventsFor(1000);
  EXPECT_FALSE(form->Label12->text().startsWith(QStringLiteral(" Sound error: ")))
      << form->Label12->text().toStdString();
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);
  form->Command4->click();
}

TEST_F(DesktopTest, TheSoundServerStoppedDuringARunGivesTheSoundErrorAndAStartAfterItsReturnWorks) {
  const int row = form->Combo1->findText(kSink);
  ASSERT_GE(row, 0);
  ClockSettings(row);
  form->Check2->setChecked(false);
  QTimer::singleShot(1000, [&] { session.StopSoundServer(); });
  QTimer::singleShot(8000, form->Command4, &QPushButton::click);
  form->Generator().Command20_Click();
  form->Recorder().WaitUntilWritten();
  EXPECT_TRUE(form->Label12->text().startsWith(QStringLiteral(" Sound error: ")))
      << form->Label12->text().toStdString();
  ASSERT_TRUE(session.StartSoundServer());
  ASSERT_TRUE(session.LoadSink());
  RunEventsFor(500);
  form->Option6->setChecked(true);
  form->Generator().Command20_Click();
  RunEventsFor(1000);
  EXPECT_FALSE(form->Label12->text().startsWith(QStringLiteral(" Sound error: ")))
      << form->Label12->text().toStdString();
  form->Command4->click();
}

TEST_F(DesktopTest, ACameraNodeGoneWhilePreviewingGivesTheCameraErrorAndComesBack) {
  for (bool graph : {false, true}) {
    SCOPED_TRACE(graph ? "filter graph" : "capture window");
    if (graph) form->Option8->click();
    graph ? FilterGraphOn() : CaptureWindowOn();
    RunEventsFor(500);
    session.StopCamera();
    EXPECT_TRUE(WaitFor(
        [&] { return form->Label1->text().startsWith(QStringLiteral(" Camera error: ")); }, 5000))
        << form->Label1->text().toStdString();
    QTest::mouseClick(form->Command13, Qt::LeftButton);
    ASSERT_TRUE(session.StartCamera());
    RunEventsFor(500);
    graph ? FilterGraphOn() : CaptureWindowOn();
    auto* window =
        static_cast<capture::CaptureWindow*>(capture::WindowOf(form->CameraState().CaptureWindow));
    if (!graph) {
      EXPECT_TRUE(WaitFor([&] { return window->FrameBuffer() != nullptr; }, 5000));
    }
    QTest::mouseClick(form->Command13, Qt::LeftButton);
    RunEventsFor(200);
  }
}

TEST_F(DesktopTest, ACameraNodeGoneDuringPicturesEndsTheClockAndKeepsEveryPictureWhole) {
  CaptureWindowOn();
  ASSERT_TRUE(
      WaitFor([&] { return testing_support::RecordingCameraDelivers(form->Camera()); }, 20000))
      << "the PipeWire camera gave no frames";
  ClockSettings(VirtualRow());
  // The node goes once the first picture has had its frame (the camera delivered two more
  // after its instant) and well before the next instant (every 0.5 s), however long the start
  // took: the next picture finds the camera gone.
  QTimer stopper;
  stopper.setInterval(20);
  std::optional<std::uint64_t> framesAtFirst;
  QObject::connect(&stopper, &QTimer::timeout, form.get(), [&] {
    if (form->Gen().PictureNumber < 1) return;
    const std::uint64_t frames = form->Camera().RecordingCamera().FrameCount();
    if (!framesAtFirst) framesAtFirst = frames;
    if (frames < *framesAtFirst + 2) return;
    stopper.stop();
    session.StopCamera();
  });
  stopper.start();
  QTimer::singleShot(30000, form->Command4, &QPushButton::click);
  form->Generator().Command20_Click();
  stopper.stop();
  form->Recorder().WaitUntilWritten();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
  const QStringList pictures = Pictures();
  EXPECT_GE(pictures.size(), 1);
  for (const QString& name : pictures) {
    const QImage picture(form->Recorder().Names().PictureFolder + QLatin1Char('/') + name);
    EXPECT_FALSE(picture.isNull()) << name.toStdString();
  }
}

TEST_F(DesktopTest, ACameraNodeGoneDuringAVideoFinishesTheAviAndSaysTheVideoFailed) {
  CaptureWindowOn();
  RunEventsFor(500);
  QTest::mouseClick(form->Command24, Qt::LeftButton);
  const QString file = form->Recorder().Names().OutputFileName + QStringLiteral(".avi");
  RunEventsFor(1500);
  session.StopCamera();
  EXPECT_TRUE(WaitFor(
      [&] { return form->Label1->text().startsWith(QStringLiteral(" Video capture failed: ")); },
      5000))
      << form->Label1->text().toStdString();
  auto* window =
      static_cast<capture::CaptureWindow*>(capture::WindowOf(form->CameraState().CaptureWindow));
  ASSERT_TRUE(testing_support::WaitForFinishedFiles(window->Recorder()));
  const testing_support::AviInfo avi = testing_support::ReadAvi(file);
  ASSERT_TRUE(avi.valid) << file.toStdString();
  EXPECT_TRUE(avi.hasIndex);
  EXPECT_GT(avi.totalFrames, 10u);
}

// ---- Wayland ------------------------------------------------------------------------------

// The demo run under a Wayland compositor with the PipeWire server running: ten starts and
// exits with status 0, pictures that show the camera's frames (the desktop's clipboard is
// not what they come through any more).
TEST(WaylandDesktop, TenDemoRunsEndWithStatusZeroAndPicturesOfTheCamera) {
  DesktopSession session;
  if (!session.StartSound())
    GTEST_SKIP() << "no PipeWire session: " << session.Problem().toStdString();
  if (!session.StartWayland())
    GTEST_SKIP() << "no Wayland compositor: " << session.Problem().toStdString();
  QTemporaryDir folder;
  for (const char* name : {"Risunki", "SnapShot", "Video"})
    ASSERT_TRUE(QDir(folder.path()).mkdir(QString::fromLatin1(name)));
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
  for (int run = 1; run <= 10; ++run) {
    SCOPED_TRACE(run);
    QProcess program;
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(STROBOLUX_EXECUTABLE),
                  {QStringLiteral("--demo-run"), QStringLiteral("2"), QStringLiteral("--back-end"),
                   QStringLiteral("capture"), QStringLiteral("--format"), QStringLiteral("bmp"),
                   QStringLiteral("--program-folder"), folder.path()});
    ASSERT_TRUE(program.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(program.readAll());
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << output.toStdString();
    EXPECT_EQ(program.exitCode(), 0) << output.toStdString();
    if (run > 1) continue;
    const QString line = output.section(QStringLiteral("run folder: "), 1).section('\n', 0, 0);
    const QStringList pictures =
        QDir(line).entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name);
    ASSERT_GE(pictures.size(), 2) << output.toStdString();
    for (const QString& name : pictures) {
      const QImage picture(line + QLatin1Char('/') + name);
      // The test camera's ball on black: more than the panel's one background colour.
      EXPECT_GT(Colours(picture.copy(0, 60, 640, 420)), 4) << name.toStdString();
    }
  }
}

}  // namespace

// The capture-window library against the built-in test cameras.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QListWidget>
#include <QTemporaryDir>
#include <QWidget>
#include <QtEndian>
#include <array>
#include <cstring>
#include <filesystem>

#include "platform/capture/capture.h"
#include "platform/capture/capture_window.h"
#include "platform/forms/clipboard.h"
#include "platform/forms/dialog.h"
#include "platform/gst/format_choice.h"
#include "platform/gst/format_dialog.h"
#include "platform/gst/gst_util.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/avi_file.h"
#include "tests/support/camera_support.h"
#include "tests/support/video_support.h"

namespace {

using namespace capture;
using testing_support::Luminance;
using testing_support::RunEventsFor;
using testing_support::VirtualCameras;
using testing_support::WaitFor;

LPARAM PathArg(const QByteArray& path) {
  return reinterpret_cast<LPARAM>(path.constData());
}

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override { parent_.resize(644, 484); }

  // A connected, previewing window at the camera's default format.
  HWND Connected() {
    const HWND window = capCreateCaptureWindowA("Take a Camera Shot", WS_CHILD | WS_VISIBLE, 0, 0,
                                                640, 480, &parent_, 0);
    EXPECT_NE(window, 0);
    EXPECT_EQ(SendMessageA(window, WM_CAP_DRIVER_CONNECT, 0, 0), TRUE);
    SendMessageA(window, WM_CAP_SET_PREVIEWRATE, 0, 0);
    SendMessageA(window, WM_CAP_SET_PREVIEW, static_cast<WPARAM>(-1), 0);
    EXPECT_TRUE(WaitFor([&] { return Shown(window) >= 2; }, 5000));
    return window;
  }
  static CaptureWindow* Window(HWND handle) {
    return static_cast<CaptureWindow*>(WindowOf(handle));
  }
  static std::uint64_t Shown(HWND handle) { return Window(handle)->ShownCount(); }
  static std::uint64_t FrameNumber(HWND handle) {
    const gst::FramePtr frame = Window(handle)->FrameBuffer();
    return frame ? frame->Number() : 0;
  }

  VirtualCameras cameras_;
  QWidget parent_;
};

TEST_F(CaptureTest, DriverListHoldsEveryCameraItOpensWithTheirTextsCutToTheBuffer) {
  std::array<char, 80> name{};
  std::array<char, 80> version{};
  ASSERT_EQ(capGetDriverDescriptionA(0, name.data(), 80, version.data(), 80), TRUE);
  EXPECT_STREQ(name.data(), gst::kTestCameraYuy2);
  EXPECT_STREQ(version.data(), gst::kTestCameraDriver);
  ASSERT_EQ(capGetDriverDescriptionA(1, name.data(), 80, version.data(), 80), TRUE);
  EXPECT_STREQ(name.data(), gst::kTestCameraMjpeg);
  EXPECT_EQ(capGetDriverDescriptionA(2, name.data(), 80, version.data(), 80), FALSE);
  // A camera with nothing raw is a driver too, after the others: its JPEG is decoded.
  gst::RegisterVirtualMjpegOnlyCamera();
  ASSERT_EQ(capGetDriverDescriptionA(2, name.data(), 80, version.data(), 80), TRUE);
  EXPECT_STREQ(name.data(), gst::kTestCameraMjpegOnly);
  EXPECT_EQ(capGetDriverDescriptionA(3, name.data(), 80, version.data(), 80), FALSE);
  EXPECT_EQ(capGetDriverDescriptionA(10, name.data(), 80, version.data(), 80), FALSE);

  // A short buffer gets as much as fits, and its zero; nothing is written past it.
  std::array<char, 16> small{};
  std::memset(small.data(), 'x', small.size());
  ASSERT_EQ(capGetDriverDescriptionA(0, small.data(), 8, version.data(), 80), TRUE);
  EXPECT_STREQ(small.data(), "Test ca");
  EXPECT_EQ(small[8], 'x');
}

TEST_F(CaptureTest, WindowsAreMadeOnlyWithAParentAndASizeAndUnknownHandlesDoNothing) {
  EXPECT_EQ(capCreateCaptureWindowA("t", WS_CHILD | WS_VISIBLE, 0, 0, 640, 480, nullptr, 0), 0);
  EXPECT_EQ(capCreateCaptureWindowA("t", WS_CHILD | WS_VISIBLE, 0, 0, 0, 480, &parent_, 0), 0);
  EXPECT_EQ(capCreateCaptureWindowA("t", WS_CHILD | WS_VISIBLE, 0, 0, 640, -1, &parent_, 0), 0);
  const HWND window = capCreateCaptureWindowA("Take a Camera Shot", WS_CHILD | WS_VISIBLE, 0, 0,
                                              640, 480, &parent_, 0);
  ASSERT_NE(window, 0);
  EXPECT_EQ(WindowOf(window)->parentWidget(), &parent_);
  EXPECT_EQ(WindowOf(window)->size(), QSize(640, 480));
  EXPECT_EQ(WindowOf(window)->windowTitle(), QStringLiteral("Take a Camera Shot"));
  for (HWND bad : {HWND{0}, HWND{window + 1000}}) {
    EXPECT_EQ(SendMessageA(bad, WM_CAP_DRIVER_CONNECT, 0, 0), 0);
    EXPECT_EQ(SendMessageA(bad, WM_CAP_SET_PREVIEW, 1, 0), 0);
  }
  // Without a driver nothing is connected, previewed or saved.
  EXPECT_EQ(SendMessageA(window, WM_CAP_DRIVER_DISCONNECT, 0, 0), FALSE);
  EXPECT_EQ(SendMessageA(window, WM_CAP_SET_PREVIEW, 1, 0), FALSE);
  EXPECT_EQ(SendMessageA(window, WM_CAP_EDIT_COPY, 0, 0), FALSE);
  EXPECT_EQ(SendMessageA(window, WM_CAP_DRIVER_CONNECT, 5, 0), FALSE);  // no such driver
  // A window destroyed with its parent is forgotten.
  delete WindowOf(window);
  EXPECT_EQ(SendMessageA(window, WM_CAP_DRIVER_DISCONNECT, 0, 0), 0);
}

TEST_F(CaptureTest, PreviewOnFollowsTheCameraAndOffStandsStill) {
  const HWND window = Connected();
  EXPECT_EQ(Window(window)->FrameBuffer()->Width(), 640);  // 640 x 480 when offered
  const std::uint64_t before = FrameNumber(window);
  ASSERT_TRUE(WaitFor([&] { return FrameNumber(window) > before + 2; }, 5000));

  EXPECT_EQ(SendMessageA(window, WM_CAP_SET_PREVIEW, 0, 0), TRUE);
  const gst::FramePtr frozen = Window(window)->FrameBuffer();
  const std::uint64_t shown = Shown(window);
  // The camera goes on (a loaded machine may take a while to deliver), the window does not.
  ASSERT_TRUE(WaitFor(
      [&] { return Window(window)->Pipeline().LatestFrame()->Number() > frozen->Number() + 2; },
      5000));
  RunEventsFor(50);
  EXPECT_EQ(Window(window)->FrameBuffer(), frozen);
  EXPECT_EQ(Shown(window), shown);

  SendMessageA(window, WM_CAP_SET_PREVIEW, 1, 0);
  ASSERT_TRUE(WaitFor([&] { return FrameNumber(window) > frozen->Number(); }, 5000));
  EXPECT_NE(Window(window)->FrameBuffer()->Image(), frozen->Image());
}

TEST_F(CaptureTest, PreviewRateLimitsTheFramesShown) {
  const HWND window = Connected();
  SendMessageA(window, WM_CAP_SET_PREVIEWRATE, 100, 0);
  RunEventsFor(150);
  const std::uint64_t start = Shown(window);
  QElapsedTimer elapsed;
  elapsed.start();
  // Six frames shown (the camera giving 30 a second) take at least five intervals of 100 ms
  // (less a timer's slack), however soon or late the window's thread gets to them.
  ASSERT_TRUE(WaitFor([&] { return Shown(window) - start >= 6; }, 10000));
  EXPECT_GE(elapsed.elapsed(), 450);
}

TEST_F(CaptureTest, SaveDibWritesTheFrozenFrameAsA24BitBmp) {
  const HWND window = Connected();
  SendMessageA(window, WM_CAP_SET_PREVIEW, 0, 0);
  const QImage frozen = Window(window)->FrameBuffer()->Image().copy();
  QTemporaryDir dir;
  const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("снимок.bmp")));
  ASSERT_EQ(SendMessageA(window, WM_CAP_FILE_SAVEDIBA, 0, PathArg(path)), TRUE);
  QFile file(QFile::decodeName(path));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  ASSERT_GT(bytes.size(), 54);
  EXPECT_EQ(bytes.left(2), QByteArray("BM"));
  EXPECT_EQ(qFromLittleEndian<quint32>(bytes.constData() + 14), 40u);  // header size
  EXPECT_GT(qFromLittleEndian<qint32>(bytes.constData() + 22), 0);     // bottom-up
  EXPECT_EQ(qFromLittleEndian<quint16>(bytes.constData() + 28), 24u);  // bits per pixel
  const QImage saved(QFile::decodeName(path));
  EXPECT_EQ(saved.size(), QSize(640, 480));
  EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32),
            frozen.convertToFormat(QImage::Format_RGB32));

  // A folder that does not exist: no file, and no temporary left anywhere.
  const QByteArray missing = QFile::encodeName(dir.filePath(QStringLiteral("нет/a.bmp")));
  EXPECT_EQ(SendMessageA(window, WM_CAP_FILE_SAVEDIBA, 0, PathArg(missing)), FALSE);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("снимок.bmp")});
  EXPECT_EQ(SendMessageA(window, WM_CAP_FILE_SAVEDIBA, 0, 0), FALSE);  // no path at all
}

TEST_F(CaptureTest, EditCopyPutsTheFrameOnTheProgramsClipboardAndLeavesTheDesktopsAlone) {
  const HWND window = Connected();
  SendMessageA(window, WM_CAP_SET_PREVIEW, 0, 0);
  forms::Clipboard::Clear();
  QGuiApplication::clipboard()->setText(QStringLiteral("a line of the lab notebook"));
  ASSERT_EQ(SendMessageA(window, WM_CAP_EDIT_COPY, 0, 0), TRUE);
  const QImage copied = forms::Clipboard::GetData();
  EXPECT_EQ(copied.convertToFormat(QImage::Format_RGB32),
            Window(window)->FrameBuffer()->Image().convertToFormat(QImage::Format_RGB32));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("a line of the lab notebook"));
  EXPECT_TRUE(QGuiApplication::clipboard()->image().isNull());
}

TEST_F(CaptureTest, ACameraFailureIsReportedOnceAndTheWindowKeepsItsLastFrame) {
  const HWND window = Connected();
  QStringList reasons;
  SetErrorHandler(window, [&](const QString& reason) { reasons << reason; });
  GstElement* source = Window(window)->Pipeline().Source();
  GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                                      "Could not read from resource.");
  gst_element_post_message(source, gst_message_new_error(GST_OBJECT(source), error, "unplugged"));
  g_error_free(error);
  ASSERT_TRUE(WaitFor([&] { return !reasons.isEmpty(); }, 5000));
  EXPECT_EQ(reasons, QStringList{QStringLiteral("Could not read from resource.")});
  EXPECT_TRUE(Window(window)->Shown());
  // From now on the window has no driver.
  EXPECT_EQ(SendMessageA(window, WM_CAP_EDIT_COPY, 0, 0), FALSE);
  EXPECT_EQ(SendMessageA(window, WM_CAP_DRIVER_DISCONNECT, 0, 0), FALSE);
  // And a new connect works.
  EXPECT_EQ(SendMessageA(window, WM_CAP_DRIVER_CONNECT, 0, 0), TRUE);
}

}  // namespace

// The frame rate the window reports to its caller, in microseconds a frame.
DWORD MicroSecPerFrame(HWND window) {
  CAPTUREPARMS parameters{};
  SendMessageA(window, WM_CAP_GET_SEQUENCE_SETUP, sizeof parameters,
               reinterpret_cast<LPARAM>(&parameters));
  return parameters.dwRequestMicroSecPerFrame;
}

// With nothing remembered a camera connects in 640 x 480 at 30 frames a second, raw where it
// offers that, though it offers 60 too.
TEST_F(CaptureTest, ACameraConnectsAt640x480At30FramesASecondRawBeforeJpeg) {
  for (const WPARAM driver : {WPARAM{0}, WPARAM{1}}) {
    SCOPED_TRACE(driver);
    const HWND window =
        capCreateCaptureWindowA("t", WS_CHILD | WS_VISIBLE, 0, 0, 640, 480, &parent_, 0);
    ASSERT_EQ(SendMessageA(window, WM_CAP_DRIVER_CONNECT, driver, 0), TRUE);
    const gst::CameraFormat& format = Window(window)->Pipeline().Format();
    EXPECT_EQ(format.Describe(), QStringLiteral("YUY2 640 x 480"));
    ASSERT_FALSE(format.rates.empty());
    EXPECT_EQ(format.rates.front(), (gst::FrameRate{30, 1}));
    EXPECT_EQ(MicroSecPerFrame(window), 33333u);
    delete WindowOf(window);
  }
}

// Webcams that give their large sizes (or everything) only as MJPEG: the window decodes them
// as a driver would, and previews, saves, changes format and records as with raw frames.
TEST_F(CaptureTest, AnMjpegOnlyCameraPreviewsSavesChangesFormatAndRecords) {
  gst::RegisterVirtualMjpegOnlyCamera();
  const HWND window =
      capCreateCaptureWindowA("t", WS_CHILD | WS_VISIBLE, 0, 0, 640, 480, &parent_, 0);
  ASSERT_EQ(SendMessageA(window, WM_CAP_DRIVER_CONNECT, 2, 0), TRUE);
  ASSERT_EQ(Window(window)->Pipeline().Camera().name, QLatin1String(gst::kTestCameraMjpegOnly));
  const gst::CameraFormat& connected = Window(window)->Pipeline().Format();
  EXPECT_EQ(connected.Describe(), QStringLiteral("MJPEG 640 x 480"));
  ASSERT_FALSE(connected.rates.empty());
  EXPECT_EQ(connected.rates.front(), (gst::FrameRate{30, 1}));
  EXPECT_EQ(MicroSecPerFrame(window), 33333u);
  SendMessageA(window, WM_CAP_SET_PREVIEWRATE, 0, 0);
  SendMessageA(window, WM_CAP_SET_PREVIEW, 1, 0);
  ASSERT_TRUE(WaitFor([&] { return Shown(window) >= 2; }, 5000));
  const gst::FramePtr frame = Window(window)->FrameBuffer();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->Image().size(), QSize(640, 480));
  EXPECT_GT(Luminance(frame->Image()), 40);  // the grey scene, not black

  QTemporaryDir dir;
  const QByteArray bmp = QFile::encodeName(dir.filePath(QStringLiteral("mjpeg.bmp")));
  ASSERT_EQ(SendMessageA(window, WM_CAP_FILE_SAVEDIBA, 0, PathArg(bmp)), TRUE);
  const QImage saved(QFile::decodeName(bmp));
  EXPECT_EQ(saved.size(), QSize(640, 480));
  EXPECT_GT(Luminance(saved), 40);

  // The format dialog offers the MJPEG sizes at each rate; one taken opens at its rate.
  int rows = 0;
  int jpegRows = 0;
  const forms::DialogFunction previous = forms::SetDialogFunction([&](QDialog& dialog) {
    auto* formats = dynamic_cast<gst::FormatDialog*>(&dialog);
    if (!formats) return int{QDialog::Rejected};
    rows = formats->List()->count();
    for (int row = 0; row < rows; ++row)
      if (formats->List()->item(row)->text().startsWith(QLatin1String("MJPEG"))) ++jpegRows;
    return formats->Select(QStringLiteral("MJPEG"), 1280, 720, {60, 1}) ? int{QDialog::Accepted}
                                                                        : int{QDialog::Rejected};
  });
  const LRESULT chosen = SendMessageA(window, WM_CAP_DLG_VIDEOFORMAT, 0, 0);
  forms::SetDialogFunction(previous);
  EXPECT_EQ(rows, 16);  // four sizes at 60, 30, 29.97 and 15
  EXPECT_EQ(jpegRows, 16);
  ASSERT_EQ(chosen, TRUE);
  ASSERT_TRUE(WaitFor([&] { return Window(window)->FrameBuffer()->Width() == 1280; }, 5000));
  const std::optional<gst::CameraFormat> delivered =
      gst::DeliveredFormat(Window(window)->Pipeline());
  ASSERT_TRUE(delivered);
  EXPECT_EQ(delivered->Describe(), QStringLiteral("MJPEG 1280 x 720"));
  ASSERT_FALSE(delivered->rates.empty());
  EXPECT_EQ(delivered->rates.front(), (gst::FrameRate{60, 1}));
  EXPECT_EQ(MicroSecPerFrame(window), 16667u);

  // A recording of the decoded frames, in the chosen size.
  const QString avi = dir.filePath(QStringLiteral("mjpeg.avi"));
  const QByteArray aviName = QFile::encodeName(avi);
  ASSERT_EQ(SendMessageA(window, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, PathArg(aviName)), TRUE);
  QStringList failures;
  SetRecordingErrorHandler(window, [&](const QString& reason) { failures << reason; });
  ASSERT_EQ(SendMessageA(window, WM_CAP_SEQUENCE, 0, 0), TRUE);
  const std::uint64_t start = Window(window)->Pipeline().FrameCount();
  ASSERT_TRUE(WaitFor([&] { return Window(window)->Pipeline().FrameCount() >= start + 10; }, 5000));
  ASSERT_EQ(SendMessageA(window, WM_CAP_STOP, 0, 0), TRUE);
  ASSERT_TRUE(testing_support::WaitForFinishedFiles(Window(window)->Recorder()));
  EXPECT_TRUE(failures.isEmpty()) << failures.join(QStringLiteral("; ")).toStdString();
  const testing_support::AviInfo info = testing_support::ReadAvi(avi);
  ASSERT_TRUE(info.valid);
  EXPECT_EQ(info.videoStreams, 1);
  EXPECT_GE(info.totalFrames, 2u);
  EXPECT_EQ(info.width, 1280);
  EXPECT_EQ(info.height, 720);
  EXPECT_TRUE(info.hasIndex);
}

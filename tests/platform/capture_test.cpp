// The capture-window library against the built-in test cameras.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QWidget>
#include <QtEndian>
#include <array>
#include <cstring>
#include <filesystem>

#include "platform/capture/capture.h"
#include "platform/capture/capture_window.h"
#include "platform/forms/clipboard.h"
#include "platform/gst/gst_util.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/camera_support.h"

namespace {

using namespace capture;
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

TEST_F(CaptureTest, DriverListHoldsTheRawCamerasWithTheirTextsCutToTheBuffer) {
  std::array<char, 80> name{};
  std::array<char, 80> version{};
  ASSERT_EQ(capGetDriverDescriptionA(0, name.data(), 80, version.data(), 80), TRUE);
  EXPECT_STREQ(name.data(), gst::kTestCameraYuy2);
  EXPECT_STREQ(version.data(), gst::kTestCameraDriver);
  ASSERT_EQ(capGetDriverDescriptionA(1, name.data(), 80, version.data(), 80), TRUE);
  EXPECT_STREQ(name.data(), gst::kTestCameraMjpeg);  // it offers YUY2 too
  EXPECT_EQ(capGetDriverDescriptionA(2, name.data(), 80, version.data(), 80), FALSE);
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

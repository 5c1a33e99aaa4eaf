// The filter-graph layer against the built-in test cameras: filters and pins, rendering,
// the media control states, the video window and the current image.

#include <gtest/gtest.h>

#include <QFile>
#include <QWidget>

#include "imaging/direct_show_dib.h"
#include "platform/forms/runtime_error.h"
#include "platform/graph/graph.h"
#include "platform/graph/video_devices.h"
#include "platform/graph/video_window.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/camera_support.h"

namespace {

using namespace graph;
using testing_support::VirtualCameras;
using testing_support::WaitFor;

std::shared_ptr<CaptureDevice> Device(const char* name) {
  const auto devices =
      VideoDeviceEnumerator().Devices(QString::fromLatin1(kVideoInputDeviceCategory));
  for (std::int32_t i = 0; i < devices->DeviceCount(); ++i)
    if (devices->DeviceItem(i)->DeviceName() == QLatin1String(name)) return devices->DeviceItem(i);
  return nullptr;
}

bool HasFilter(const FilgraphManager& g, const char* name) {
  for (const auto& filter : g.Filters())
    if (filter->Name() == QLatin1String(name)) return true;
  return false;
}

// Resident memory of this process in kB.
long ResidentKb() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
  return 0;
}

class GraphTest : public ::testing::Test {
 protected:
  // A running graph of the camera's capture pin, optionally in another size first.
  std::shared_ptr<FilgraphManager> Running(const char* camera, int width = 0, int height = 0) {
    auto g = std::make_shared<FilgraphManager>();
    auto filter = Device(camera)->AddToGraph(*g);
    IPinInfo& pin = *filter->Pins().front();
    if (width) {
      for (const auto& format : pin.Formats())
        if (format.IsRaw() && format.width == width && format.height == height)
          pin.SetFormat(format, format.rates.back());
    }
    pin.Render();
    g->Run();
    EXPECT_TRUE(WaitFor([&] { return g->Camera()->FrameCount() >= 2; }, 5000));
    return g;
  }

  VirtualCameras cameras_;
};

TEST_F(GraphTest, CameraFiltersOfferTheirPreferredFormatOnTheFirstOutputPin) {
  const auto devices =
      VideoDeviceEnumerator().Devices(QString::fromLatin1(kVideoInputDeviceCategory));
  EXPECT_GE(devices->DeviceCount(), 2);
  EXPECT_EQ(VideoDeviceEnumerator()
                .Devices(QStringLiteral("{00000000-0000-0000-0000-000000000000}"))
                ->DeviceCount(),
            0);
  EXPECT_THROW(devices->DeviceItem(devices->DeviceCount()), forms::RuntimeError);

  auto g = std::make_shared<FilgraphManager>();
  auto mjpeg = Device(gst::kTestCameraMjpeg)->AddToGraph(*g);
  ASSERT_EQ(mjpeg->Pins().size(), 2u);
  EXPECT_EQ(mjpeg->Pins()[0]->Name(), QStringLiteral("Capture"));
  EXPECT_EQ(mjpeg->Pins()[1]->Name(), QStringLiteral("Still"));
  EXPECT_EQ(mjpeg->Pins()[0]->Direction(), PINDIR_OUTPUT);
  EXPECT_EQ(mjpeg->Pins()[0]->Format()->Describe(), QStringLiteral("MJPEG 640 x 480"));
  auto yuy2 = Device(gst::kTestCameraYuy2)->AddToGraph(*g);
  ASSERT_EQ(yuy2->Pins().size(), 1u);
  EXPECT_EQ(yuy2->Pins()[0]->Format()->Describe(), QStringLiteral("YUY2 640 x 480"));
  EXPECT_EQ(g->Filters().size(), 2u);

  // A pin outlives neither its filter's graph nor does it keep the graph alive.
  const std::shared_ptr<IPinInfo> pin = yuy2->Pins()[0];
  g.reset();
  EXPECT_THROW(pin->Render(), forms::RuntimeError);
  pin->Disconnect();  // nothing to do, and no crash
}

TEST_F(GraphTest, RenderingAJpegPinUsesTheDecompressorInTheGraphOrAddsOne) {
  for (bool add_avi : {true, false}) {
    SCOPED_TRACE(add_avi ? "with AVI Decompressor" : "without");
    auto g = std::make_shared<FilgraphManager>();
    auto filter = Device(gst::kTestCameraMjpeg)->AddToGraph(*g);
    if (add_avi) {
      for (const auto& registered : g->RegFilterCollection())
        if (registered->Name() == QLatin1String(kAviDecompressor)) registered->Filter();
    }
    filter->Pins()[0]->Render();
    EXPECT_TRUE(filter->Pins()[0]->Connected());
    EXPECT_EQ(HasFilter(*g, kAviDecompressor), add_avi);
    EXPECT_EQ(HasFilter(*g, kMjpegDecompressor), !add_avi);
    EXPECT_TRUE(HasFilter(*g, kColorSpaceConverter));
    EXPECT_TRUE(HasFilter(*g, kVideoRenderer));
    std::int32_t state = -1;
    EXPECT_EQ(g->GetState(100, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    g->Run();
    EXPECT_TRUE(WaitFor([&] { return g->Camera()->FrameCount() >= 2; }, 5000));
    EXPECT_EQ(g->GetState(500, &state), S_OK);
    EXPECT_EQ(state, State_Running);
  }
}

TEST_F(GraphTest, CurrentImageIsAPackedBottomUpBitmapOfTheLatestFrame) {
  struct Case {
    const char* camera;
    int width, height;
  };
  for (const Case& c : {Case{gst::kTestCameraYuy2, 640, 480}, Case{gst::kTestCameraYuy2, 320, 240},
                        Case{gst::kTestCameraMjpeg, 0, 0}}) {
    SCOPED_TRACE(QStringLiteral("%1 %2").arg(c.camera).arg(c.width).toStdString());
    auto g = Running(c.camera, c.width, c.height);
    g->Pause();
    std::int32_t state = -1;
    ASSERT_EQ(g->GetState(2000, &state), S_OK);
    EXPECT_EQ(state, State_Paused);
    const gst::FramePtr frame = g->Camera()->LatestFrame();
    const int width = c.width ? c.width : 640;
    const int height = c.height ? c.height : 480;
    ASSERT_EQ(frame->Width(), width);
    std::int32_t size = 0;
    ASSERT_EQ(g->GetCurrentImage(&size, nullptr), S_OK);
    EXPECT_EQ(size, 40 + (width * 3 + 3) / 4 * 4 * height);

    // Too small by one element: refused, and nothing written past the given size.
    std::vector<std::int32_t> small(size / 4, 0x5A5A5A5A);
    std::int32_t short_size = size - 4;
    EXPECT_EQ(g->GetCurrentImage(&short_size, small.data()), E_OUTOFMEMORY);
    EXPECT_EQ(small.back(), 0x5A5A5A5A);

    forms::LongArray dib;
    dib.Elements.resize(size / 4);
    ASSERT_EQ(g->GetCurrentImage(&size, dib.Elements.data()), S_OK);
    EXPECT_EQ(dib.Elements[0], 40);
    EXPECT_EQ(dib.Elements[1], width);
    EXPECT_EQ(dib.Elements[2], height);  // positive: bottom-up
    EXPECT_EQ(dib.Elements[3], 1 | (24 << 16));
    EXPECT_EQ(dib.Elements[4], 0);  // BI_RGB
    const auto picture = imaging::DirectShowDIB().CreatePicture(dib);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Image().convertToFormat(QImage::Format_RGB32),
              frame->Image().convertToFormat(QImage::Format_RGB32));
    g->Run();
  }
}

TEST_F(GraphTest, TwoHundredPauseAndRunCyclesLeaveTheGraphRunningAndMemoryFlat) {
  auto g = Running(gst::kTestCameraYuy2);
  auto cycle = [&] {
    g->Pause();
    std::int32_t state = -1;
    g->GetState(64, &state);
    g->Run();
  };
  for (int i = 0; i < 20; ++i) cycle();
  const long before = ResidentKb();
  for (int i = 0; i < 200; ++i) cycle();
  std::int32_t state = -1;
  EXPECT_EQ(g->GetState(1000, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  const std::uint64_t frames = g->Camera()->FrameCount();
  EXPECT_TRUE(WaitFor([&] { return g->Camera()->FrameCount() > frames + 2; }, 5000));
#if defined(__SANITIZE_ADDRESS__)
  // The address sanitizer holds freed memory in quarantine: resident size says nothing here.
  (void)before;
#else
  EXPECT_LT(ResidentKb() - before, 8 * 1024) << "kB grown";
#endif
}

TEST_F(GraphTest, TheVideoWindowFollowsItsOwnerStyleAndPlacement) {
  QWidget owner;
  owner.resize(800, 600);
  auto g = Running(gst::kTestCameraYuy2, 320, 240);
  VideoWindow* window = g->Window();
  ASSERT_TRUE(window);
  EXPECT_FALSE(window->parentWidget());
  const std::int32_t style = g->WindowStyle();
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowTitleHint);
  // The style without its caption, system menu and sizing frame: the window loses them too.
  g->SetWindowStyle(style & static_cast<std::int32_t>(0xFFB3FFFF));
  EXPECT_FALSE(window->windowFlags() & Qt::WindowTitleHint);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
  g->SetLeft(8);
  g->SetTop(0);
  g->SetOwner(&owner);
  g->SetVisible(OATRUE);
  g->SetWidth(640);
  g->SetHeight(480);
  EXPECT_EQ(window->parentWidget(), &owner);
  EXPECT_EQ(window->geometry(), QRect(8, 0, 640, 480));  // whatever the camera's size
  EXPECT_TRUE(window->isVisibleTo(&owner));
  EXPECT_TRUE(WaitFor([&] { return window->ShownCount() >= 2; }, 5000));

  g->SetAutoShow(OAFALSE);
  g->SetVisible(OAFALSE);
  g->SetOwner(nullptr);
  EXPECT_FALSE(window->parentWidget());
  EXPECT_FALSE(window->isVisible());
}

}  // namespace

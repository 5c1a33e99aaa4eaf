// The camera's frames are turned into BGRx rows only when something reads them: the preview's
// at its own rate, a requested frame once, the rest never; and the rows are those the
// videoconvert element would give, for a raw camera and for an MJPEG one decoded once.

#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <mutex>

#include "platform/gst/camera_devices.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/camera_support.h"

namespace {

using testing_support::FindCamera;
using testing_support::VirtualCameras;
using testing_support::WaitFor;

// The raw samples the recording branch sees, the last few.
class TappedSamples {
 public:
  explicit TappedSamples(gst::CameraPipeline& camera) : camera_(camera) {
    camera_.SetTap([this](GstSample* sample) {
      std::lock_guard lock(mutex_);
      samples_.emplace_back(gst_sample_ref(sample));
      while (samples_.size() > 8) samples_.pop_front();
    });
  }
  ~TappedSamples() { camera_.SetTap({}); }
  TappedSamples(const TappedSamples&) = delete;
  TappedSamples& operator=(const TappedSamples&) = delete;

  // Whether one of them, through the videoconvert element to BGRx, has exactly these rows;
  // the raw format of the tapped samples in `format`.
  bool AnyConvertsTo(const gst::CameraFrame& frame, QString* format) {
    std::deque<gst::SamplePtr> samples;
    {
      std::lock_guard lock(mutex_);
      for (const gst::SamplePtr& sample : samples_)
        samples.emplace_back(gst_sample_ref(sample.get()));
    }
    const gst::CapsPtr bgrx(gst_caps_from_string("video/x-raw,format=BGRx"));
    for (const gst::SamplePtr& sample : samples) {
      GstVideoInfo info;
      if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get()))) continue;
      *format = QString::fromUtf8(gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info)));
      GError* error = nullptr;
      const gst::SamplePtr converted(
          gst_video_convert_sample(sample.get(), bgrx.get(), GST_SECOND, &error));
      const gst::ErrorPtr owned(error);
      if (!converted) continue;
      GstVideoInfo out;
      gst_video_info_from_caps(&out, gst_sample_get_caps(converted.get()));
      GstVideoFrame rows;
      if (!gst_video_frame_map(&rows, &out, gst_sample_get_buffer(converted.get()), GST_MAP_READ))
        continue;
      bool same = GST_VIDEO_FRAME_WIDTH(&rows) == frame.Width() &&
                  GST_VIDEO_FRAME_HEIGHT(&rows) == frame.Height();
      for (int y = 0; same && y < frame.Height(); ++y)
        same = std::memcmp(static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&rows, 0)) +
                               y * GST_VIDEO_FRAME_PLANE_STRIDE(&rows, 0),
                           frame.Bits() + y * frame.Stride(),
                           static_cast<std::size_t>(frame.Width()) * 4) == 0;
      gst_video_frame_unmap(&rows);
      if (same) return true;
    }
    return false;
  }

 private:
  gst::CameraPipeline& camera_;
  std::mutex mutex_;
  std::deque<gst::SamplePtr> samples_;
};

TEST(FrameConversion, OnlyTheFramesReadAreConvertedAndTheirRowsAreVideoconvertsOwn) {
  VirtualCameras cameras;
  const std::vector<gst::CameraDevice> list = gst::ListCameras();
  struct Case {
    const char* camera;
    bool raw;
    const char* tapped;  // the raw format the recording branch gets: decoded once, upstream
  };
  for (const Case& c :
       {Case{gst::kTestCameraYuy2, true, "YUY2"}, Case{gst::kTestCameraMjpeg, false, "I420"}}) {
    SCOPED_TRACE(c.camera);
    const gst::CameraDevice* camera = FindCamera(list, c.camera);
    ASSERT_TRUE(camera);
    const gst::CameraFormat* format = camera->Find(c.raw, 640, 480);
    ASSERT_TRUE(format);
    gst::CameraPipeline pipeline;
    QString error;
    ASSERT_TRUE(pipeline.Open(*camera, format->AtDefaultRate(), &error)) << error.toStdString();
    TappedSamples tapped(pipeline);

    // Nothing reads: nothing is converted.
    ASSERT_TRUE(WaitFor([&] { return pipeline.FrameCount() >= 6; }, 5000));
    EXPECT_EQ(pipeline.FramesConverted(), 0u);
    EXPECT_FALSE(pipeline.LatestPreparedFrame());

    // A preview of one frame in three (at the camera's 30 a second): about a third of them,
    // converted before the window reads them.
    const double fps = pipeline.FramesPerSecond();
    ASSERT_GT(fps, 0);
    pipeline.SetPreviewEvery(static_cast<std::int64_t>(3e9 / fps));
    const std::uint64_t from = pipeline.FrameCount();
    const std::uint64_t converted_before = pipeline.FramesConverted();
    ASSERT_TRUE(WaitFor([&] { return pipeline.FrameCount() >= from + 30; }, 5000));
    pipeline.SetPreviewEvery(-1);
    const double delivered = static_cast<double>(pipeline.FrameCount() - from);
    const double converted = static_cast<double>(pipeline.FramesConverted() - converted_before);
    EXPECT_GE(converted, delivered / 3 - 2);
    EXPECT_LE(converted, delivered / 3 + 2);
    const gst::FramePtr shown = pipeline.LatestPreparedFrame();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->Prepared());

    // A requested frame is converted once, as its copy of its own: its rows are what the
    // videoconvert element makes of one of the raw frames the recording branch got.
    const std::uint64_t before_request = pipeline.FramesConverted();
    const std::shared_ptr<gst::FrameRequest> request = pipeline.RequestFrame(gst::SteadyNowNs());
    const gst::FramePtr answer = request->Wait(gst::SteadyNowNs() + 2'000'000'000);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->Prepared());
    EXPECT_EQ(answer->Detached(), answer);  // no second copy
    EXPECT_LE(pipeline.FramesConverted(), before_request + 1);
    QString raw_format;
    EXPECT_TRUE(tapped.AnyConvertsTo(*answer, &raw_format));
    EXPECT_EQ(raw_format, QString::fromLatin1(c.tapped));

    // A frame nobody prepared is converted by whoever reads it first, once.
    const gst::FramePtr latest = pipeline.LatestFrame();
    ASSERT_TRUE(latest);
    const std::uint8_t* rows = latest->Bits();
    ASSERT_TRUE(rows);
    EXPECT_EQ(latest->Bits(), rows);
    EXPECT_EQ(latest->Image().width(), 640);
  }
}

}  // namespace

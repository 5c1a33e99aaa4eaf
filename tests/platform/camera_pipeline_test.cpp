// The camera side of the GStreamer layer, against the built-in test cameras: listing,
// opening in each format, the latest-frame slot, the preview and failures.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/gst/camera_devices.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/camera_preview.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/camera_support.h"

namespace {

using gst::CameraDevice;
using gst::CameraPipeline;
using gst::FramePtr;
using testing_support::FindCamera;
using testing_support::VirtualCameras;
using testing_support::WaitFor;

// One message names every element that could not be made; a made one ends up the bin's alone.
TEST(ElementMaker, NamesEveryMissingFactoryAndHandsTheRestToTheBin) {
  gst::ElementMaker maker;
  gst::ElementPtr queue = maker.Make("queue", "kept");
  EXPECT_FALSE(maker.Make("no-such-element"));
  EXPECT_FALSE(maker.Make("nor-this-one"));
  ASSERT_TRUE(queue);
  EXPECT_EQ(maker.Missing(),
            QString::fromUtf8("не хватает элемента GStreamer: no-such-element, nor-this-one"));
  gst::ElementMaker complete;
  EXPECT_TRUE(complete.Make("queue"));
  EXPECT_TRUE(complete.Missing().isEmpty());

  const gst::ElementPtr pipeline = gst::NewPipeline("maker");
  GstElement* added = gst::AddToBin(pipeline.get(), std::move(queue));
  EXPECT_EQ(GST_OBJECT_PARENT(added), GST_OBJECT(pipeline.get()));
  EXPECT_EQ(GST_OBJECT_REFCOUNT_VALUE(added), 1);
}

TEST(CameraList, TestCamerasAreListedWithTheirFormatsOnlyWhenRegistered) {
  gst::ClearVirtualCameras();
  for (const CameraDevice& camera : gst::ListCameras())
    EXPECT_FALSE(camera.name.startsWith(QLatin1String("Test camera")));

  VirtualCameras cameras;
  const std::vector<CameraDevice> list = gst::ListCameras();
  const CameraDevice* yuy2 = FindCamera(list, gst::kTestCameraYuy2);
  const CameraDevice* mjpeg = FindCamera(list, gst::kTestCameraMjpeg);
  ASSERT_TRUE(yuy2 && mjpeg);
  EXPECT_LT(yuy2, mjpeg);  // YUY2 camera first, in the monitor's order
  EXPECT_FALSE(FindCamera(list, gst::kTestCameraMjpegOnly));  // only when a test asks
  EXPECT_EQ(yuy2->version, QLatin1String(gst::kTestCameraDriver));

  // As a USB webcam: 60 and 29.97 beside 30 and 15 where the bus carries them, highest first;
  // raw frames of the large sizes only slowly.
  using Rates = std::vector<gst::FrameRate>;
  const Rates full{{60, 1}, {30, 1}, {30000, 1001}, {15, 1}};
  ASSERT_EQ(yuy2->formats.size(), 4u);
  for (const auto& format : yuy2->formats) {
    EXPECT_TRUE(format.IsRaw());
    EXPECT_EQ(format.format, QLatin1String("YUY2"));
  }
  ASSERT_TRUE(yuy2->Find(true, 640, 480) && yuy2->Find(true, 320, 240));
  EXPECT_EQ(yuy2->Find(true, 640, 480)->rates, full);
  EXPECT_EQ(yuy2->Find(true, 320, 240)->rates, full);
  ASSERT_TRUE(yuy2->Find(true, 1280, 720) && yuy2->Find(true, 1920, 1080));
  EXPECT_EQ(yuy2->Find(true, 1280, 720)->rates, (Rates{{10, 1}, {5, 1}}));
  EXPECT_EQ(yuy2->Find(true, 1920, 1080)->rates, (Rates{{5, 1}}));
  EXPECT_FALSE(yuy2->FirstJpeg());

  ASSERT_EQ(mjpeg->formats.size(), 5u);
  EXPECT_TRUE(mjpeg->formats[0].IsJpeg());
  EXPECT_EQ(mjpeg->formats[0].Describe(), QStringLiteral("MJPEG 640 x 480"));
  for (const auto& [width, height] :
       {std::pair{320, 240}, std::pair{1280, 720}, std::pair{1920, 1080}}) {
    ASSERT_TRUE(mjpeg->Find(false, width, height));
    EXPECT_EQ(mjpeg->Find(false, width, height)->rates, full);
  }
  ASSERT_TRUE(mjpeg->Find(true, 640, 480));
  EXPECT_EQ(mjpeg->Find(true, 640, 480)->rates, full);
  EXPECT_FALSE(mjpeg->Find(true, 320, 240));
  EXPECT_TRUE(mjpeg->HasRaw());

  // With nothing chosen a camera opens at 30, as a webcam driver's default; a format that
  // offers nothing as slow opens at its slowest.
  for (const gst::CameraFormat* format : {yuy2->Find(true, 640, 480), mjpeg->FirstJpeg()}) {
    const gst::CameraFormat opened = format->AtDefaultRate();
    EXPECT_EQ(opened.rates, (Rates{{30, 1}, {60, 1}, {30000, 1001}, {15, 1}}));
    EXPECT_TRUE(opened.SameFormatAs(*format));
  }
  EXPECT_EQ(yuy2->Find(true, 1280, 720)->AtDefaultRate().rates, (Rates{{10, 1}, {5, 1}}));
  gst::CameraFormat fast = *mjpeg->FirstJpeg();
  fast.rates = {{120, 1}, {90, 1}, {60, 1}};
  EXPECT_EQ(fast.AtDefaultRate().rates, (Rates{{60, 1}, {120, 1}, {90, 1}}));
  fast.rates = {{60, 1}, {30000, 1001}};
  EXPECT_EQ(fast.AtDefaultRate().rates.front(), (gst::FrameRate{30000, 1001}));
}

TEST(CameraPipeline, EachFormatDeliversFramesOfItsSizeThatChange) {
  VirtualCameras cameras;
  const std::vector<CameraDevice> list = gst::ListCameras();
  struct Case {
    const char* camera;
    bool raw;
    int width, height;
  };
  for (const Case& c :
       {Case{gst::kTestCameraYuy2, true, 320, 240}, Case{gst::kTestCameraYuy2, true, 1280, 720},
        Case{gst::kTestCameraMjpeg, false, 640, 480},
        Case{gst::kTestCameraMjpeg, true, 640, 480}}) {
    SCOPED_TRACE(QStringLiteral("%1 %2x%3").arg(c.camera).arg(c.width).arg(c.height).toStdString());
    const CameraDevice* camera = FindCamera(list, c.camera);
    ASSERT_TRUE(camera);
    const auto* format = camera->Find(c.raw, c.width, c.height);
    ASSERT_TRUE(format);
    CameraPipeline pipeline;
    QString error;
    ASSERT_TRUE(pipeline.Open(*camera, *format, &error)) << error.toStdString();
    ASSERT_TRUE(WaitFor([&] { return pipeline.FrameCount() >= 3; }, 5000));
    const FramePtr first = pipeline.LatestFrame();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Width(), c.width);
    EXPECT_EQ(first->Height(), c.height);
    EXPECT_GE(first->Stride(), c.width * 4);
    ASSERT_TRUE(WaitFor([&] { return pipeline.FrameCount() >= first->Number() + 2; }, 5000));
    const FramePtr later = pipeline.LatestFrame();
    EXPECT_GT(later->Number(), first->Number());
    EXPECT_GE(later->CaptureNs(), first->CaptureNs());
    EXPECT_LE(later->CaptureNs(), later->ArrivalNs() + 1'000'000);  // never from the future
    // The frame number makes two frames differ.
    EXPECT_NE(first->Image(), later->Image());
    pipeline.Close();
    EXPECT_FALSE(pipeline.IsOpen());
    EXPECT_TRUE(pipeline.LatestFrame());  // the last frame outlives the pipeline
  }
}

std::int64_t SteadyNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Every frame the camera delivered, seen from the streaming thread after the requests were
// offered it; and whether the request being asked had its answer by then, when the frame was
// captured at or after its instant.
struct DeliveredFrames {
  std::mutex mutex;
  std::map<std::uint64_t, std::int64_t> captures;  // by frame number
  std::shared_ptr<gst::FrameRequest> asked;
  std::int64_t askedInstant = 0;
  int answeredLate = 0;

  void Seen(const FramePtr& frame) {
    std::lock_guard lock(mutex);
    captures[frame->Number()] = frame->CaptureNs();
    if (asked && frame->CaptureNs() >= askedInstant && !asked->Answered()) ++answeredLate;
  }
  void Ask(std::shared_ptr<gst::FrameRequest> request, std::int64_t instant) {
    std::lock_guard lock(mutex);
    asked = std::move(request);
    askedInstant = instant;
  }
  // The capture times of the last frame before `instant` and of the first at or after it.
  std::pair<std::optional<std::int64_t>, std::optional<std::int64_t>> Around(std::int64_t instant) {
    std::lock_guard lock(mutex);
    std::optional<std::int64_t> before, after;
    for (const auto& [number, capture] : captures) {
      if (capture < instant) before = capture;
      if (capture >= instant && !after) after = capture;
    }
    return {before, after};
  }
  // The smallest and largest time between two frames delivered one after the other, among
  // those up to `last`.
  std::pair<std::int64_t, std::int64_t> Gaps(std::uint64_t last) {
    std::lock_guard lock(mutex);
    std::int64_t smallest = INT64_MAX, largest = 0;
    for (auto it = captures.begin(); it != captures.end() && it->first <= last; ++it) {
      const auto next = std::next(it);
      if (next == captures.end() || next->first != it->first + 1 || next->first > last) continue;
      smallest = std::min(smallest, next->second - it->second);
      largest = std::max(largest, next->second - it->second);
    }
    return {smallest, largest};
  }
  std::uint64_t Last() {
    std::lock_guard lock(mutex);
    return captures.empty() ? 0 : captures.rbegin()->first;
  }
};

// The recording asks for the frame nearest an instant and waits for it elsewhere: the answer
// is the nearest of the frames the camera delivered (the last before the instant or the first
// after it; a dropped frame widens the choice, never breaks it), it is known as soon as the
// first frame after the instant has arrived, and it is a frame of its own memory that outlives
// the pipeline. Nothing here depends on how soon the threads run: a loaded machine delivers
// late or drops frames, and the answers follow what it delivered.
TEST(CameraPipeline, RequestedFrameIsTheNearestAnsweredByTheFirstFrameAfterTheInstant) {
  VirtualCameras cameras;
  const std::vector<CameraDevice> list = gst::ListCameras();
  const CameraDevice* camera = FindCamera(list, gst::kTestCameraYuy2);
  ASSERT_TRUE(camera);
  constexpr std::int64_t kMs = 1'000'000;
  {
    // Closed and without any frame: answered at once, with none.
    CameraPipeline closed;
    const std::shared_ptr<gst::FrameRequest> none = closed.RequestFrame(SteadyNow());
    EXPECT_TRUE(none->Answered());
    EXPECT_FALSE(none->Wait(SteadyNow() + 1000 * kMs));
  }
  // At 30 fps, not the camera's highest rate.
  gst::CameraFormat format = *camera->Find(true, 640, 480);
  format.rates = {gst::FrameRate{30, 1}};
  DeliveredFrames delivered;  // outlives the pipeline that calls it
  CameraPipeline pipeline;
  pipeline.SetFrameObserver([&delivered](const FramePtr& frame) { delivered.Seen(frame); });
  ASSERT_TRUE(pipeline.Open(*camera, format));
  ASSERT_TRUE(WaitFor([&] { return pipeline.FrameCount() >= 10; }, 5000));
  // The interval is the camera's (frames come 1/30 s apart, a dropped one leaves a wider gap),
  // measured over the frames kept: within the gaps between the frames delivered so far.
  const std::int64_t interval = pipeline.FrameIntervalNs();
  const std::uint64_t kept = pipeline.FrameCount();
  ASSERT_TRUE(WaitFor([&] { return delivered.Last() >= kept; }, 5000));
  const auto [smallest, largest] = delivered.Gaps(kept);
  EXPECT_NEAR(static_cast<double>(smallest), 1e9 / 30, 1e6);
  EXPECT_GE(interval, smallest - kMs);
  EXPECT_LE(interval, largest + kMs);
  for (int i = 0; i < 30; ++i) {
    SCOPED_TRACE(i);
    // Instants from 60 ms ago to 90 ms ahead, at an odd step so that they fall anywhere
    // between two frames.
    const std::int64_t instant = SteadyNow() + (-60 + (i * 7) % 150) * kMs;
    const FramePtr before = pipeline.LatestFrame();
    const std::shared_ptr<gst::FrameRequest> request = pipeline.RequestFrame(instant);
    const bool answeredAtOnce = request->Answered();
    const FramePtr after = pipeline.LatestFrame();
    delivered.Ask(request, instant);
    // Asked after a frame after the instant arrived, it is answered at once; asked before, it
    // waits for one: never a guess.
    if (before->CaptureNs() >= instant) {
      EXPECT_TRUE(answeredAtOnce);
    }
    if (answeredAtOnce) {
      EXPECT_GE(after->CaptureNs(), instant);
    }
    // Answered by a frame, not by the deadline (the streaming thread checks that it was
    // answered as soon as the first frame after the instant came).
    ASSERT_TRUE(WaitFor([&] { return request->Answered(); }, 10000));
    const FramePtr frame = request->Wait(SteadyNow());
    const std::int64_t answered = SteadyNow();
    ASSERT_TRUE(frame);
    EXPECT_LE(frame->ArrivalNs(), answered);
    ASSERT_TRUE(WaitFor([&] { return delivered.Around(instant).second.has_value(); }, 10000));
    const auto [last, first] = delivered.Around(instant);
    const std::int64_t nearest =
        last && instant - *last <= *first - instant ? *last : *first;  // the earlier on a tie
    EXPECT_EQ(frame->CaptureNs(), nearest)
        << "capture " << frame->CaptureNs() << " instant " << instant << " frames around it "
        << last.value_or(-1) << ", " << *first;
    QTest::qWait(11);
  }
  delivered.Ask(nullptr, 0);
  {
    std::lock_guard lock(delivered.mutex);
    EXPECT_EQ(delivered.answeredLate, 0)
        << "a frame after the instant came and the request was still unanswered";
  }

  // Requests still waiting when the camera closes are answered with what it gave, and their
  // frames outlive the pipeline.
  const std::shared_ptr<gst::FrameRequest> late = pipeline.RequestFrame(SteadyNow() + 5000 * kMs);
  EXPECT_FALSE(late->Answered());
  pipeline.Close();
  EXPECT_TRUE(late->Answered());
  const FramePtr last = late->Wait(SteadyNow());
  ASSERT_TRUE(last);
  EXPECT_EQ(last->Number(), pipeline.LatestFrame()->Number());
  EXPECT_EQ(last->Image().pixel(0, 0), pipeline.LatestFrame()->Image().pixel(0, 0));

  // A camera that gives nothing more: the deadline answers with the nearest so far.
  ASSERT_TRUE(pipeline.Open(*camera, format));
  ASSERT_TRUE(WaitFor([&] { return pipeline.FrameCount() >= 2; }, 5000));
  const std::shared_ptr<gst::FrameRequest> far = pipeline.RequestFrame(SteadyNow() + 60'000 * kMs);
  const std::int64_t asked = SteadyNow();
  const FramePtr nearest = far->Wait(asked + 100 * kMs);
  EXPECT_GE(SteadyNow() - asked, 100 * kMs);
  ASSERT_TRUE(nearest);
  EXPECT_TRUE(far->Answered());
}

// A frame of its own memory, 4 x 4 pixels of the value `fill`, taken at `captureNs`.
FramePtr SyntheticFrame(std::uint64_t number, std::int64_t captureNs, std::uint8_t fill) {
  gst::BufferPtr buffer(gst_buffer_new_allocate(nullptr, 64, nullptr));
  gst_buffer_memset(buffer.get(), 0, fill, 64);
  gst::SamplePtr sample(gst_sample_new(buffer.get(), nullptr, nullptr, nullptr));
  return std::make_shared<const gst::CameraFrame>(std::move(sample), 4, 4, 16, number, captureNs,
                                                  captureNs);
}

// A rule's request chooses among the frames of its window by their cost, answers once a frame
// after the window has come (or at the first candidate when the first wins), falls back on the
// frame nearest the instant when no frame is a candidate, and copies what it keeps as it goes,
// so that a long window holds none of the frames it was offered.
TEST(FrameRequest, ARuleChoosesTheCheapestFrameOfItsWindowAndFallsBackOnTheNearest) {
  constexpr std::int64_t kMs = 1'000'000;
  // Frames every 33 ms from t = 0; exposure middles 13 ms (the lead) before their capture.
  // The cost is the distance of the middle from 150 ms: frame 5 (middle 152 - 13 = 139 ms)
  // ... frame 6 (185 - 13 = 172). Window [100, 300) ms.
  const auto rule = [&](bool firstWins) {
    gst::FrameRule r;
    r.exposureLeadNs = 13 * kMs;
    r.windowStartNs = 100 * kMs;
    r.windowEndNs = 300 * kMs;
    r.cost = [](std::int64_t middle) -> std::optional<double> {
      return std::abs(static_cast<double>(middle - 150'000'000));
    };
    r.firstWins = firstWins;
    return r;
  };
  const auto capture = [](int j) { return std::int64_t{j} * 33 * kMs + 20 * kMs; };
  {
    gst::FrameRequest request(100 * kMs, rule(false));
    std::vector<FramePtr> offered;
    int answeredAt = -1;
    for (int j = 0; j < 14 && answeredAt < 0; ++j) {
      offered.push_back(SyntheticFrame(j + 1, capture(j), static_cast<std::uint8_t>(j)));
      if (request.Offer(offered.back())) answeredAt = j;
      // As the camera's streaming thread does: what the request keeps is copied at once.
      if (request.TakeCopyDue()) request.Detach();
    }
    // It holds none of the frames it was offered: neither its best nor the nearest one, which
    // a candidate has made needless.
    for (const FramePtr& frame : offered) EXPECT_EQ(frame.use_count(), 1) << frame->Number();
    // Middles: frame j at 33 j + 7 ms; the first at or after 300 ms is j = 9 (304 ms).
    EXPECT_EQ(answeredAt, 9);
    const FramePtr chosen = request.Wait(0);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->Number(), 5u);  // middle 139 ms, 11 ms from 150; j = 5 is 172 ms
    EXPECT_TRUE(request.ChosenByRule());
    EXPECT_DOUBLE_EQ(*request.ChosenCost(), 11.0 * kMs);
    // A copy: the offered frame's memory is not the answer's.
    EXPECT_NE(chosen.get(), offered[4].get());
    EXPECT_EQ(chosen->Bits()[0], 4);
  }
  {
    // The first candidate wins at once: frame 3 (middle 106 ms) is in the window.
    gst::FrameRequest request(100 * kMs, rule(true));
    for (int j = 0; j < 3; ++j) EXPECT_FALSE(request.Offer(SyntheticFrame(j + 1, capture(j), 0)));
    EXPECT_TRUE(request.Offer(SyntheticFrame(4, capture(3), 0)));
    EXPECT_EQ(request.Wait(0)->Number(), 4u);
  }
  {
    // No frame is a candidate (its phase unknown): the frame nearest the instant after all, and
    // the answer waits for the window's end, not the instant.
    gst::FrameRule none = rule(false);
    none.cost = [](std::int64_t) { return std::optional<double>(); };
    gst::FrameRequest request(100 * kMs, none);
    EXPECT_FALSE(request.Offer(SyntheticFrame(3, capture(2), 0)));  // 86 ms
    EXPECT_FALSE(request.Offer(SyntheticFrame(4, capture(3), 0)));  // 119 ms
    EXPECT_FALSE(request.Offer(SyntheticFrame(5, capture(4), 0)));  // 152 ms
    EXPECT_TRUE(request.Offer(SyntheticFrame(10, capture(9), 0)));  // a stall, then past the end
    const FramePtr chosen = request.Wait(0);
    EXPECT_EQ(chosen->Number(), 3u);  // 14 ms before the instant; frame 4 is 19 ms after
    EXPECT_FALSE(request.ChosenByRule());
  }
  {
    // A window that holds one frame, and a camera that stops: the deadline answers with it.
    gst::FrameRequest request(100 * kMs, rule(false));
    EXPECT_FALSE(request.Offer(SyntheticFrame(6, capture(5), 7)));
    EXPECT_EQ(request.Wait(SteadyNow() + 20 * kMs)->Number(), 6u);
    EXPECT_TRUE(request.ChosenByRule());
  }
}

}  // namespace

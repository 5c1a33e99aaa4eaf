// The video recorder's stop against the built-in test camera: the stop returns at once and the
// file is finished behind it, a new recording may start meanwhile, and a finish that fails or
// never ends is reported. A stalled file sink stands in for a slow or stuck disk.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/gst/camera_devices.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/video_recorder.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/avi_file.h"
#include "tests/support/camera_support.h"
#include "tests/support/gst_leak_check.h"
#include "tests/support/video_support.h"

namespace {

using testing_support::AviInfo;
using testing_support::ReadAvi;
using testing_support::StalledFile;
using testing_support::WaitFor;
using testing_support::WaitForFinishedFiles;

const QString kIndexMissing = QStringLiteral("не записан индекс видеофайла");

class VideoRecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    const std::vector<gst::CameraDevice> list = gst::ListCameras();
    const gst::CameraDevice* camera = testing_support::FindCamera(list, gst::kTestCameraYuy2);
    ASSERT_TRUE(camera);
    const gst::CameraFormat* format = camera->Find(true, 640, 480);
    ASSERT_TRUE(format);
    QString error;
    ASSERT_TRUE(camera_.Open(*camera, format->AtDefaultRate(), &error)) << error.toStdString();
    ASSERT_TRUE(WaitFor([&] { return camera_.FrameCount() >= 2; }, 5000));
  }

  gst::RecordingSettings Settings(const char* name) const {
    gst::RecordingSettings settings;
    settings.path = folder_.filePath(QString::fromLatin1(name));
    return settings;
  }
  // Starts a recording and lets some frames reach its file.
  void Record(gst::VideoRecorder& recorder, const gst::RecordingSettings& settings) {
    QString error;
    ASSERT_TRUE(recorder.Start(camera_, settings, &error)) << error.toStdString();
    ASSERT_TRUE(WaitFor([&] { return recorder.FramesWritten() >= 10; }, 5000));
  }
  // A finished file: its index lists every frame the header counts.
  static void ExpectComplete(const QString& path, std::uint64_t frames) {
    SCOPED_TRACE(path.toStdString());
    const AviInfo avi = ReadAvi(path);
    ASSERT_TRUE(avi.valid);
    EXPECT_EQ(avi.totalFrames, frames);
    EXPECT_EQ(avi.idx1Entries, avi.totalFrames);
    EXPECT_EQ(avi.width, 640);
  }

  testing_support::VirtualCameras cameras_;
  gst::CameraPipeline camera_;
  QTemporaryDir folder_;
};

TEST_F(VideoRecorderTest, StopReturnsAtOnceAndTheFileIsFinishedBehindIt) {
  gst::VideoRecorder recorder;
  QSignalSpy finished(&recorder, &gst::VideoRecorder::Finished);
  QSignalSpy finish_failed(&recorder, &gst::VideoRecorder::FinishFailed);
  const gst::RecordingSettings settings = Settings("stalled.avi");
  Record(recorder, settings);
  StalledFile disk(recorder.Pipeline());
  testing_support::RunEventsFor(300);
  QElapsedTimer stop;
  stop.start();
  recorder.Stop();
  EXPECT_LT(stop.elapsed(), 500);
  EXPECT_FALSE(recorder.Recording());
  EXPECT_FALSE(recorder.Pipeline());
  EXPECT_TRUE(recorder.Finishing());
  testing_support::RunEventsFor(300);
  EXPECT_TRUE(recorder.Finishing());
  EXPECT_EQ(ReadAvi(settings.path).idx1Entries, 0u);  // the disk holds the end of stream

  disk.Release();
  ASSERT_TRUE(WaitForFinishedFiles(recorder));
  EXPECT_EQ(finished.count(), 1);
  EXPECT_TRUE(finish_failed.isEmpty());
  ExpectComplete(settings.path, recorder.FramesWritten());
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 1);  // the camera's
}

// A stop before the first frame: a file with nothing in it is no failure.
TEST_F(VideoRecorderTest, AStopBeforeAnyFrameFinishesWithoutAFailure) {
  gst::VideoRecorder recorder;
  QSignalSpy finished(&recorder, &gst::VideoRecorder::Finished);
  QSignalSpy finish_failed(&recorder, &gst::VideoRecorder::FinishFailed);
  ASSERT_TRUE(recorder.Start(camera_, Settings("empty.avi")));
  recorder.Stop();
  ASSERT_TRUE(WaitForFinishedFiles(recorder));
  EXPECT_EQ(finished.count(), 1);
  EXPECT_TRUE(finish_failed.isEmpty());
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 1);
}

// The old file finishes while the new one records; neither touches the other's frames.
TEST_F(VideoRecorderTest, AStartRightAfterAStopRecordsANewFileWhileTheOldOneFinishes) {
  gst::VideoRecorder recorder;
  QSignalSpy finished(&recorder, &gst::VideoRecorder::Finished);
  QSignalSpy finish_failed(&recorder, &gst::VideoRecorder::FinishFailed);
  const gst::RecordingSettings first = Settings("first.avi");
  const gst::RecordingSettings second = Settings("second.avi");
  Record(recorder, first);
  StalledFile disk(recorder.Pipeline());
  testing_support::RunEventsFor(300);  // frames pile up before the stalled sink
  recorder.Stop();
  const std::uint64_t written_at_stop = recorder.FramesWritten();
  Record(recorder, second);
  EXPECT_TRUE(recorder.Recording());
  EXPECT_TRUE(recorder.Finishing());
  disk.Release();
  ASSERT_TRUE(WaitForFinishedFiles(recorder));
  EXPECT_EQ(finished.count(), 1);
  EXPECT_TRUE(recorder.Recording());
  // The frames held back reached the first file after the second had begun.
  const AviInfo old_file = ReadAvi(first.path);
  EXPECT_GT(old_file.totalFrames, written_at_stop);
  EXPECT_EQ(old_file.idx1Entries, old_file.totalFrames);
  EXPECT_EQ(ReadAvi(second.path).idx1Entries, 0u);  // still recording

  testing_support::RunEventsFor(300);
  recorder.Stop();
  ASSERT_TRUE(WaitForFinishedFiles(recorder));
  EXPECT_EQ(finished.count(), 2);
  EXPECT_TRUE(finish_failed.isEmpty());
  ExpectComplete(second.path, recorder.FramesWritten());
}

// Two sinks never write one file: a start into a file still finishing waits for that finish.
TEST_F(VideoRecorderTest, AStartIntoTheFileStillFinishingWaitsForItsIndexFirst) {
  gst::VideoRecorder recorder;
  QSignalSpy finish_failed(&recorder, &gst::VideoRecorder::FinishFailed);
  const gst::RecordingSettings settings = Settings("again.avi");
  Record(recorder, settings);
  StalledFile disk(recorder.Pipeline());
  recorder.Stop();
  std::thread disk_comes_back([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    disk.Release();
  });
  QElapsedTimer start;
  start.start();
  QString error;
  const bool started = recorder.Start(camera_, settings, &error);
  const qint64 waited = start.elapsed();
  disk_comes_back.join();
  ASSERT_TRUE(started) << error.toStdString();
  EXPECT_GE(waited, 250);
  EXPECT_LT(waited, 4000);
  ASSERT_TRUE(WaitFor([&] { return recorder.FramesWritten() >= 10; }, 5000));
  recorder.Stop();
  ASSERT_TRUE(WaitForFinishedFiles(recorder));
  EXPECT_TRUE(finish_failed.isEmpty());
  ExpectComplete(settings.path, recorder.FramesWritten());
}

TEST_F(VideoRecorderTest, AFinishThatCannotWriteItsIndexIsReportedWithTheReason) {
  gst::VideoRecorder recorder;
  QSignalSpy finished(&recorder, &gst::VideoRecorder::Finished);
  QSignalSpy finish_failed(&recorder, &gst::VideoRecorder::FinishFailed);
  QSignalSpy failed(&recorder, &gst::VideoRecorder::Failed);
  const gst::RecordingSettings settings = Settings("broken.avi");
  Record(recorder, settings);
  StalledFile disk(recorder.Pipeline());
  recorder.Stop();
  ASSERT_TRUE(testing_support::BreakOpenFile(settings.path));
  disk.Release();
  ASSERT_TRUE(WaitForFinishedFiles(recorder));
  ASSERT_EQ(finish_failed.count(), 1);
  EXPECT_TRUE(failed.isEmpty());  // no running recording failed
  const QString reason = finish_failed.at(0).at(0).toString();
  EXPECT_TRUE(reason.startsWith(kIndexMissing + QStringLiteral(": "))) << reason.toStdString();
  EXPECT_GT(reason.size(), kIndexMissing.size() + 2);  // GStreamer's own words follow
  EXPECT_EQ(finished.count(), 1);
  EXPECT_EQ(ReadAvi(settings.path).idx1Entries, 0u);
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 1);
}

// A sink that never takes the end of stream: after the limit the file is given up, said so,
// and its pipeline taken down all the same.
TEST_F(VideoRecorderTest, AFinishThatNeverEndsIsGivenUpAfterTheLimitAndReported) {
  gst::VideoRecorder recorder;
  QSignalSpy finished(&recorder, &gst::VideoRecorder::Finished);
  QSignalSpy finish_failed(&recorder, &gst::VideoRecorder::FinishFailed);
  QSignalSpy failed(&recorder, &gst::VideoRecorder::Failed);
  Record(recorder, Settings("stuck.avi"));
  StalledFile disk(recorder.Pipeline());
  QElapsedTimer finish;
  finish.start();
  recorder.Stop();
  EXPECT_LT(finish.elapsed(), 500);
  ASSERT_TRUE(WaitForFinishedFiles(recorder, 10000));
  EXPECT_GE(finish.elapsed(), 4900);
  ASSERT_EQ(finish_failed.count(), 1);
  EXPECT_TRUE(failed.isEmpty());
  EXPECT_EQ(finish_failed.at(0).at(0).toString(), kIndexMissing);
  EXPECT_EQ(finished.count(), 1);
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 1);
}

// The end of stream reaches the file by the limit, but its notice is still on its way when the
// limit's timer runs: the file is complete, and no failure is reported.
TEST_F(VideoRecorderTest, AnEndOfStreamThatReachedTheFileByTheLimitIsNoFailure) {
  gst::VideoRecorder recorder;
  QSignalSpy finished(&recorder, &gst::VideoRecorder::Finished);
  QSignalSpy finish_failed(&recorder, &gst::VideoRecorder::FinishFailed);
  const gst::RecordingSettings settings = Settings("just_in_time.avi");
  Record(recorder, settings);
  StalledFile disk(recorder.Pipeline());
  QElapsedTimer since_stop;
  since_stop.start();
  recorder.Stop();
  disk.Release();
  // No events run here: the end of stream is written and told while the limit passes.
  while ((since_stop.elapsed() < 5500 || ReadAvi(settings.path).idx1Entries == 0) &&
         since_stop.elapsed() < 15000)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_GT(ReadAvi(settings.path).idx1Entries, 0u);
  // The notice has not arrived when the timer runs.
  QCoreApplication::removePostedEvents(QCoreApplication::instance(), QEvent::MetaCall);
  ASSERT_TRUE(WaitForFinishedFiles(recorder));
  EXPECT_TRUE(finish_failed.isEmpty()) << finish_failed.at(0).at(0).toString().toStdString();
  EXPECT_EQ(finished.count(), 1);
  ExpectComplete(settings.path, recorder.FramesWritten());
}

// Holds a recording's frames in its file sink's write, as a hanging disk does, until opened:
// its pipeline cannot be taken down before.
class HangingWrite {
 public:
  explicit HangingWrite(GstElement* recording) {
    const gst::ElementPtr file(gst_bin_get_by_name(GST_BIN(recording), "rec_file"));
    pad_.reset(gst_element_get_static_pad(file.get(), "sink"));
    gst_pad_add_probe(
        pad_.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
          auto* self = static_cast<HangingWrite*>(data);
          std::unique_lock lock(self->mutex_);
          self->changed_.wait(lock, [self] { return self->open_; });
          return GST_PAD_PROBE_OK;
        },
        this, nullptr);
  }
  ~HangingWrite() { Open(); }
  HangingWrite(const HangingWrite&) = delete;
  HangingWrite& operator=(const HangingWrite&) = delete;
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  gst::PadPtr pad_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// The program's end: a recording whose write hangs is left to the background when the
// recorder goes, and the wait for the releases returns only once it is taken down.
TEST_F(VideoRecorderTest, TheWaitForTheReleasesReturnsOnlyOnceTheLastRecordingIsTakenDown) {
  std::optional<gst::VideoRecorder> recorder(std::in_place);
  Record(*recorder, Settings("hanging.avi"));
  HangingWrite disk(recorder->Pipeline());
  recorder->Stop();
  recorder.reset();  // within the limit nothing ends: the pipeline goes to the releaser
  ASSERT_EQ(testing_support::LiveGstObjects("GstPipeline"), 2);
  std::atomic<bool> opened{false};
  std::thread disk_comes_back([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    opened = true;
    disk.Open();
  });
  gst::WaitForVideoReleases();
  EXPECT_TRUE(opened);
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 1);
  disk_comes_back.join();
}

// The window's end: the file still finishing is complete when the recorder is gone, and so
// is its pipeline.
TEST_F(VideoRecorderTest, ARecorderDestroyedDuringAFinishLeavesACompleteFileAndNoPipeline) {
  const gst::RecordingSettings settings = Settings("last.avi");
  std::optional<gst::VideoRecorder> recorder(std::in_place);
  Record(*recorder, settings);
  StalledFile disk(recorder->Pipeline());
  recorder->Stop();
  ASSERT_TRUE(recorder->Finishing());
  std::thread disk_comes_back([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    disk.Release();
  });
  recorder.reset();
  disk_comes_back.join();
  const AviInfo avi = ReadAvi(settings.path);
  ASSERT_TRUE(avi.valid);
  EXPECT_GT(avi.totalFrames, 10u);
  EXPECT_EQ(avi.idx1Entries, avi.totalFrames);
  EXPECT_EQ(testing_support::LiveGstObjects("GstPipeline"), 1);
}

}  // namespace

#pragma once
// Helpers of the video recording tests: a file sink held as a stalled disk holds it, an open
// file made unwritable under its writer, and waiting for stopped recordings to finish.

#include <gst/gst.h>

#include <QString>

#include "platform/gst/gst_util.h"
#include "platform/gst/video_recorder.h"

namespace testing_support {

// Holds everything on its way into a recording's file sink (frames, the end of stream) until
// released, from any thread, or until the pipeline is taken down.
class StalledFile {
 public:
  explicit StalledFile(GstElement* recording);
  ~StalledFile() { Release(); }
  StalledFile(const StalledFile&) = delete;
  StalledFile& operator=(const StalledFile&) = delete;
  void Release();

 private:
  gst::PadPtr pad_;
  gulong probe_ = 0;
};

// Replaces this process's descriptors of the file at `path` by read-only ones, so that its
// writer's next writes fail as on a broken disk. False when none is open.
bool BreakOpenFile(const QString& path);

// Runs the event loop until no stopped recording of `recorder` is finishing; true when none is.
// The default is the recorder's own limit and some room.
bool WaitForFinishedFiles(const gst::VideoRecorder& recorder, int timeoutMs = 7000);

}  // namespace testing_support

#pragma once
// An AVI recording of a camera while it previews: the camera's tap feeds a pipeline of its
// own, `appsrc ! videorate ! videoconvert ! [jpegenc] ! avimux ! filesink`, so
// that a file that cannot be written never disturbs the camera. A stopped recording finishes
// its file (the muxer writes the index at the end of the stream) behind the window's back.

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gst/bus_watch.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/gst_util.h"

namespace gst {

struct RecordingSettings {
  QString path;                           // the AVI file
  bool motionJpeg = false;                // otherwise full frames, uncompressed
  int quality = 85;                       // JPEG quality, 1-100
  std::int64_t microSecPerFrame = 33333;  // the frame interval written and kept
};

class VideoRecorder : public QObject {
  Q_OBJECT

 public:
  explicit VideoRecorder(QObject* parent = nullptr);
  // Stops a recording still going on and waits until every file still being finished is
  // complete, each at most as long as a finish may take: the program is ending then.
  ~VideoRecorder() override;

  // Starts recording what `camera` delivers. False, with the reason, when the file cannot be
  // opened or the pipeline does not start; nothing is left behind then. A file of the same
  // name still being finished is finished first.
  bool Start(CameraPipeline& camera, const RecordingSettings& settings, QString* error = nullptr);
  // Takes no more frames and ends the stream; returns at once. The file is finished (index
  // written) and released behind it: Finished() tells when, FinishFailed() when it could not
  // be.
  void Stop();
  bool Recording() const { return recording_ != nullptr; }
  GstElement* Pipeline() const;
  // Stopped recordings whose file is not finished and released yet.
  bool Finishing() const { return !finishing_.empty() || releasing_ > 0; }

  // Frames the camera handed over, and frames that reached the file, in the recording started
  // last (frames still on their way reach the file while it finishes).
  std::uint64_t FramesIn() const;
  std::uint64_t FramesWritten() const;

 signals:
  // The recording failed while running (disk full, file gone): it is stopped already.
  void Failed(const QString& reason);
  // A stopped recording's file could not be finished: its index may be missing. It comes
  // from the event loop, never from within a call, since another recording may run by then.
  void FinishFailed(const QString& reason);
  // No stopped recording is finishing any more: every file is complete (or given up) and
  // its pipeline released.
  void Finished();

 private:
  struct Counters;
  struct Session;
  // The steps of Start.
  void AwaitFinishOf(const QString& path);
  std::unique_ptr<Session> MakeSession(GstElement* bin, const QString& path,
                                       const RecordingSettings& settings);
  void WatchSession(Session& session);
  void TapCamera(CameraPipeline& camera);
  void OnNotice(std::uint64_t serial, const BusNotice& notice);
  Session* FindFinishing(std::uint64_t serial) const;
  // Ends a finish: the pipeline is taken down in the background; `failure` empty when the
  // file is complete.
  void EndFinish(Session* session, const QString& failure);
  void OnReleased();
  void ReleaseRecording();

  std::unique_ptr<Session> recording_;
  std::vector<std::unique_ptr<Session>> finishing_;  // stopped, waiting for the end of stream
  int releasing_ = 0;                                // finished, their pipelines being taken down
  std::shared_ptr<Counters> counters_;
  CameraPipeline* camera_ = nullptr;
  std::uint64_t next_serial_ = 1;
};

// Finished recordings are taken down in the background; this waits until all of them are.
// The program calls it before its application object goes, which a release still calls back.
void WaitForVideoReleases();

}  // namespace gst

#pragma once
// One open wave-output device: a GStreamer pipeline fed from the queued headers in real time,
// with a "played" notification per header taken from the pipeline clock.

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/gst/bus_watch.h"
#include "platform/gst/gst_util.h"
#include "platform/wave/wave_out.h"

namespace wave {

class WaveOutStream : public std::enable_shared_from_this<WaveOutStream> {
 public:
  // Builds `appsrc ! audioconvert ! audioresample ! sink` for the format and starts it.
  // Takes ownership of a floating `sink`. Returns null when the pipeline does not start.
  static std::shared_ptr<WaveOutStream> Open(GstElement* sink, const WAVEFORMATEX& format,
                                             QObject* callback, HWAVEOUT id);
  ~WaveOutStream();
  WaveOutStream(const WaveOutStream&) = delete;
  WaveOutStream& operator=(const WaveOutStream&) = delete;

  // Queues a header behind those already queued; refuses one that is queued already.
  MMRESULT Write(WAVEHDR* header);
  bool IsQueued(const WAVEHDR* header);
  bool HasQueued();
  // Where sample 0 of the stream plays on the device's clock; false before the first write.
  bool Timing(ToneTiming* timing);
  // The clock's time and the steady clock's at the same moment.
  struct ClockReading {
    std::int64_t clockNs = 0;
    std::int64_t steadyNs = 0;
  };
  static ClockReading ReadClock(GstClock* clock);
  // Stops playback at once and returns every queued header as done.
  void Reset();
  // Silences the device at once and has it released in the background, so the caller never
  // waits for a sink to drain or stop. Idempotent. A later Open waits for that release.
  void Close();
  // Takes the pipeline down and ends the feeder, blocking until both are done. Idempotent.
  void Release();
  // Blocks until every stream closed so far has been released.
  static void WaitForReleases();
  // Posts an error on the stream's bus as a failing sink would: the device went away.
  void InjectError(const QString& reason);

 private:
  WaveOutStream(QObject* callback, HWAVEOUT id, const WAVEFORMATEX& format);
  bool Start(GstElement* sink);
  void FeedLoop();
  void Played(WAVEHDR* header, std::uint64_t generation);
  void Post(std::uint32_t message, WAVEHDR* header);
  GstClockTime RunningTimeNow() const;
  // Running time of a frame of the current timeline.
  GstClockTime TimelineAt(std::uint64_t frames) const;
  void Retime(GstClockTime now);                   // with mutex_ held
  bool QueuedLocked(const WAVEHDR* header) const;  // with mutex_ held
  static gboolean OnClockTime(GstClock* clock, GstClockTime time, GstClockID id,
                              gpointer user_data);
  static GstPadProbeReturn DropStale(GstPad* pad, GstPadProbeInfo* info, gpointer user_data);

  QObject* const callback_;
  const HWAVEOUT id_;
  const WAVEFORMATEX format_;
  const std::uint32_t chunk_bytes_;  // about 10 ms, so that a reset is heard at once

  gst::ElementPtr pipeline_;
  GstElement* appsrc_ = nullptr;  // owned by the pipeline
  gst::ClockPtr clock_;
  std::unique_ptr<gst::BusWatch> bus_;
  GstClockTime base_time_ = 0;
  GstClockTime latency_ = 0;

  std::mutex mutex_;  // guards everything below and the header memory while it is read
  std::condition_variable wake_;
  std::deque<WAVEHDR*> pending_;  // queued, not yet completely handed to the pipeline
  std::deque<WAVEHDR*> playing_;  // handed over, waiting for their end to be played
  std::uint32_t fed_bytes_ = 0;   // of pending_.front()
  std::vector<gst::ClockIdPtr> waits_;
  std::uint64_t generation_ = 0;  // advanced by every reset
  GstClockTime timeline_start_ = 0;
  std::uint64_t timeline_frames_ = 0;
  // Frames handed over before the current timeline began, so that sample positions run on
  // across a re-timing.
  std::uint64_t timeline_origin_ = 0;
  bool timeline_known_ = false;
  bool retime_ = true;
  bool stopping_ = false;
  bool closed_ = false;
  bool opened_ = false;  // reported open to the callback window, so a close is reported too

  std::atomic<std::uint64_t> live_generation_{0};  // read by the pad probe
  std::thread feeder_;
};

}  // namespace wave

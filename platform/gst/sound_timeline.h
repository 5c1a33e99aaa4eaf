#pragma once
// What the built-in sound output played, and when: channel 0 of the last few seconds of
// samples, each at the steady-clock time it played. The test cameras' scene reads the tone's
// waveform and phase from it, so that their pictures show what a set-up driven by the sound
// output would show at the moment they were taken.

#include <gst/gst.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace gst {

// The tone at one moment.
struct ToneMoment {
  double value = 0;                    // the waveform, -1..1; 0 when nothing played
  std::optional<double> phaseDegrees;  // 0..360, 0 at a rising zero crossing; none in silence
  double periodNs = 0;                 // the tone's period there; 0 without a phase
};

// A bounded record of played samples. Thread-safe: the sound output's streaming thread appends
// while cameras' streaming threads ask.
class SoundTimeline {
 public:
  explicit SoundTimeline(double seconds = 4.0) : seconds_(seconds) {}

  // A new stream at this sample rate: what was recorded before is forgotten, and the record is
  // sized for `seconds` of it.
  void Restart(int sampleRate);
  // Samples of one buffer, -1..1: the first plays at `firstNs`, the next each `sampleNs` later.
  void Append(std::int64_t firstNs, double sampleNs, std::span<const float> samples);

  ToneMoment At(std::int64_t ns) const;
  double ValueAt(std::int64_t ns) const { return At(ns).value; }
  std::optional<double> PhaseAt(std::int64_t ns) const { return At(ns).phaseDegrees; }

 private:
  struct Chunk {
    std::int64_t firstNs;
    double sampleNs;
    std::uint64_t firstIndex;  // running sample number of its first sample
    std::size_t count;
    float peak;  // largest magnitude: silence has no phase
  };
  void DropOlderThan(std::uint64_t index);
  double Sample(std::uint64_t index) const { return ring_[index % ring_.size()]; }
  double ValueLocked(std::int64_t ns) const;
  bool SilentBefore(std::int64_t ns, double spanNs) const;

  const double seconds_;
  mutable std::mutex mutex_;
  std::vector<float> ring_;
  std::uint64_t next_index_ = 0;  // running number of the next sample appended
  std::deque<Chunk> chunks_;      // in time order
  std::deque<double> crossings_;  // rising zero crossings, steady ns, in time order
  bool has_last_ = false;         // the last sample, for a crossing between two buffers
  float last_value_ = 0;
  double last_ns_ = 0;
};

// What the built-in sound output plays, for the whole process.
SoundTimeline& PlayedSound();

// Steady-clock nanoseconds of a time of `clock` (a system clock also when it runs at a skewed
// rate: its calibration is undone; any other clock is placed relative to now).
std::int64_t ClockTimeToSteadyNs(GstClock* clock, GstClockTime time);

// Channel 0 of interleaved S16LE or U8 samples as -1..1.
std::vector<float> ChannelZero(const std::uint8_t* data, std::size_t bytes, bool eightBit,
                               int channels);

}  // namespace gst

#pragma once
// What the built-in sound output played, and when: channel 0 of the last few seconds of
// samples, each at the steady-clock time it played, and of a two-channel stream also channel
// 1 as the light of an LED it drives (a strobe). The test cameras' scene reads the tone's
// waveform and phase and the strobe's light from it, so that their pictures show what a set-up
// driven by the sound output would show at the moment they were taken.

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

// Lit samples of the light channel next to each other, taken together.
struct Flash {
  double ns = 0;       // the light-weighted mean time, steady ns
  double lightNs = 0;  // the light times its duration: ns of full light
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
  // The same for a stream with a light channel: `light` is its level 0..1 at each sample
  // (missing values count as dark).
  void Append(std::int64_t firstNs, double sampleNs, std::span<const float> samples,
              std::span<const float> light);

  ToneMoment At(std::int64_t ns) const;
  double ValueAt(std::int64_t ns) const { return At(ns).value; }
  std::optional<double> PhaseAt(std::int64_t ns) const { return At(ns).phaseDegrees; }

  // The light of the samples played in [fromNs, toNs): false when the stream playing then had
  // no light channel (a mono stream, or nothing played). Each sample lights for its own
  // duration at its own time; runs of lit samples spanning at most `mergeNs` are replaced by
  // one flash at their light-weighted mean time, appended to `flashes` in time order. Just
  // past the last recorded sample, as for At, the light goes on as it was a whole number of
  // tone periods earlier.
  bool LightBetween(std::int64_t fromNs, std::int64_t toNs, double mergeNs,
                    std::vector<Flash>& flashes) const;

 private:
  struct Chunk {
    std::int64_t firstNs;
    double sampleNs;
    std::uint64_t firstIndex;  // running sample number of its first sample
    std::size_t count;
    float peak;  // largest magnitude: silence has no phase
    bool lit;    // its stream has a light channel
  };
  void AppendLocked(std::int64_t firstNs, double sampleNs, std::span<const float> samples,
                    std::span<const float> light, bool lit);
  void DropOlderThan(std::uint64_t index);
  // Flashes of the record's own samples in [from, to), moved by `shift`; true when a chunk
  // with a light channel overlaps it.
  bool CollectLocked(double from, double to, double shift, double mergeNs,
                     std::vector<Flash>& flashes) const;
  double Sample(std::uint64_t index) const { return ring_[index % ring_.size()]; }
  double ValueLocked(std::int64_t ns) const;
  bool SilentBefore(std::int64_t ns, double spanNs) const;

  const double seconds_;
  mutable std::mutex mutex_;
  std::vector<float> ring_;
  std::vector<float> light_;      // the light channel, ring_ sized once a stream has one
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
// Channel 1 of interleaved S16LE or U8 samples as light 0..1: its positive part, full scale
// (32767, or 255 for U8) being full light; an LED conducts on positive samples only. Empty
// for a stream of one channel.
std::vector<float> ChannelOneLight(const std::uint8_t* data, std::size_t bytes, bool eightBit,
                                   int channels);

}  // namespace gst

#include "platform/gst/sound_timeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gst/gst_util.h"

namespace gst {
namespace {

// A moment just past the last recorded sample still counts as playing: the sink records a
// buffer when it starts to play, so the buffer under way may be a thread switch from arriving.
constexpr double kAheadNs = 50e6;
// Below this magnitude over a whole period the output is taken as silent.
constexpr float kSilence = 0.01f;

double Wrap360(double degrees) {
  const double wrapped = std::fmod(degrees, 360.0);
  return wrapped < 0 ? wrapped + 360.0 : wrapped;
}

}  // namespace

void SoundTimeline::Restart(int sampleRate) {
  std::lock_guard lock(mutex_);
  const auto size =
      static_cast<std::size_t>(std::max(1.0, std::ceil(std::max(1, sampleRate) * seconds_)));
  ring_.assign(size, 0.0f);
  next_index_ = 0;
  chunks_.clear();
  crossings_.clear();
  has_last_ = false;
}

void SoundTimeline::Append(std::int64_t firstNs, double sampleNs, std::span<const float> samples) {
  if (samples.empty() || !(sampleNs > 0)) return;
  std::lock_guard lock(mutex_);
  if (ring_.empty())
    ring_.assign(static_cast<std::size_t>(std::max(1.0, std::ceil(seconds_ * 1e9 / sampleNs))),
                 0.0f);
  double first = static_cast<double>(firstNs);
  if (samples.size() > ring_.size()) {
    const std::size_t skipped = samples.size() - ring_.size();
    first += static_cast<double>(skipped) * sampleNs;
    samples = samples.subspan(skipped);
    has_last_ = false;
  }
  // A crossing between two buffers counts only when they follow each other without a gap.
  if (has_last_ && std::abs(first - (last_ns_ + sampleNs)) > sampleNs / 2) has_last_ = false;
  Chunk chunk{static_cast<std::int64_t>(std::llround(first)), sampleNs, next_index_, samples.size(),
              0.0f};
  float previous = last_value_;
  double previousNs = last_ns_;
  bool hasPrevious = has_last_;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const float value = samples[i];
    const double at = first + static_cast<double>(i) * sampleNs;
    ring_[(next_index_ + i) % ring_.size()] = value;
    chunk.peak = std::max(chunk.peak, std::abs(value));
    // Rising through zero; a stream that starts at 0 and rises (a sine from phase 0) has its
    // first crossing at its first sample.
    if (hasPrevious && previous <= 0 && value > 0)
      crossings_.push_back(previousNs + (-previous) / (value - previous) * (at - previousNs));
    previous = value;
    previousNs = at;
    hasPrevious = true;
  }
  next_index_ += samples.size();
  last_value_ = previous;
  last_ns_ = previousNs;
  has_last_ = true;
  chunks_.push_back(chunk);
  if (next_index_ > ring_.size()) DropOlderThan(next_index_ - ring_.size());
}

void SoundTimeline::DropOlderThan(std::uint64_t index) {
  while (!chunks_.empty() && chunks_.front().firstIndex + chunks_.front().count <= index)
    chunks_.pop_front();
  if (!chunks_.empty() && chunks_.front().firstIndex < index) {
    Chunk& oldest = chunks_.front();
    const std::uint64_t cut = index - oldest.firstIndex;
    oldest.firstNs += std::llround(static_cast<double>(cut) * oldest.sampleNs);
    oldest.firstIndex = index;
    oldest.count -= static_cast<std::size_t>(cut);
  }
  // The last two crossings stay whatever their age: they give a slow tone its period.
  const double oldestNs = chunks_.empty() ? 0.0 : static_cast<double>(chunks_.front().firstNs);
  while (crossings_.size() > 2 &&
         (crossings_.front() < oldestNs || crossings_.size() > ring_.size()))
    crossings_.pop_front();
}

double SoundTimeline::ValueLocked(std::int64_t ns) const {
  const auto after = std::upper_bound(chunks_.begin(), chunks_.end(), ns,
                                      [](std::int64_t t, const Chunk& c) { return t < c.firstNs; });
  if (after == chunks_.begin()) return 0.0;
  const Chunk& chunk = *std::prev(after);
  const double position = static_cast<double>(ns - chunk.firstNs) / chunk.sampleNs;
  if (position >= static_cast<double>(chunk.count)) return 0.0;
  const auto whole = static_cast<std::size_t>(position);
  const double fraction = position - static_cast<double>(whole);
  const double here = Sample(chunk.firstIndex + whole);
  const double next = whole + 1 < chunk.count ? Sample(chunk.firstIndex + whole + 1) : here;
  return here + fraction * (next - here);
}

bool SoundTimeline::SilentBefore(std::int64_t ns, double spanNs) const {
  const double from = static_cast<double>(ns) - spanNs;
  for (auto chunk = chunks_.rbegin(); chunk != chunks_.rend(); ++chunk) {
    const double start = static_cast<double>(chunk->firstNs);
    const double end = start + static_cast<double>(chunk->count) * chunk->sampleNs;
    if (end <= from) break;
    if (start > static_cast<double>(ns)) continue;
    if (chunk->peak >= kSilence) return false;
  }
  return true;
}

ToneMoment SoundTimeline::At(std::int64_t ns) const {
  std::lock_guard lock(mutex_);
  ToneMoment moment;
  moment.value = ValueLocked(ns);
  if (chunks_.empty() || crossings_.size() < 2) return moment;
  const Chunk& last = chunks_.back();
  const double begin = static_cast<double>(chunks_.front().firstNs);
  const double end =
      static_cast<double>(last.firstNs) + static_cast<double>(last.count) * last.sampleNs;
  const auto t = static_cast<double>(ns);
  if (t < begin || t > end + kAheadNs) return moment;
  const auto next = std::upper_bound(crossings_.begin(), crossings_.end(), t);
  double phase = 0, period = 0;
  if (next == crossings_.begin()) {
    // Before the first crossing: the first period, backwards.
    period = crossings_[1] - crossings_[0];
    phase = 360.0 - 360.0 * std::fmod((crossings_[0] - t) / period, 1.0);
  } else if (next == crossings_.end()) {
    // After the last crossing: the last period goes on.
    period = crossings_.back() - crossings_[crossings_.size() - 2];
    phase = 360.0 * std::fmod((t - crossings_.back()) / period, 1.0);
  } else {
    const double previous = *std::prev(next);
    period = *next - previous;
    phase = 360.0 * (t - previous) / period;
  }
  if (!(period > 0) || SilentBefore(std::min(ns, static_cast<std::int64_t>(end)), period))
    return moment;
  moment.phaseDegrees = Wrap360(phase);
  if (*moment.phaseDegrees >= 360.0) moment.phaseDegrees = 0.0;
  moment.periodNs = period;
  // Just past what the sink has rendered (an exposure that ends now), the waveform goes on as
  // the phase does: the same point a whole number of periods earlier.
  if (t >= end)
    moment.value = ValueLocked(std::llround(t - std::ceil((t - end) / period + 1e-9) * period));
  return moment;
}

SoundTimeline& PlayedSound() {
  static SoundTimeline timeline;
  return timeline;
}

std::int64_t ClockTimeToSteadyNs(GstClock* clock, GstClockTime time) {
  if (!clock) return static_cast<std::int64_t>(time);
  if (G_TYPE_CHECK_INSTANCE_TYPE(clock, GST_TYPE_SYSTEM_CLOCK)) {
    GstClockType type = GST_CLOCK_TYPE_REALTIME;
    g_object_get(clock, "clock-type", &type, nullptr);
    // A monotonic system clock's own time is the steady clock; its calibration (a skewed
    // rate) is what makes its time differ.
    if (type == GST_CLOCK_TYPE_MONOTONIC) {
      GstClockTime internal = 0, external = 0, num = 1, denom = 1;
      gst_clock_get_calibration(clock, &internal, &external, &num, &denom);
      return static_cast<std::int64_t>(
          gst_clock_unadjust_with_calibration(clock, time, internal, external, num, denom));
    }
  }
  const auto now = static_cast<std::int64_t>(gst_clock_get_time(clock));
  return SteadyNowNs() - (now - static_cast<std::int64_t>(time));
}

std::vector<float> ChannelZero(const std::uint8_t* data, std::size_t bytes, bool eightBit,
                               int channels) {
  const std::size_t frameBytes =
      static_cast<std::size_t>(std::max(1, channels)) * (eightBit ? 1 : 2);
  std::vector<float> samples(bytes / frameBytes);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const std::uint8_t* frame = data + i * frameBytes;
    if (eightBit) {
      samples[i] = (static_cast<float>(frame[0]) - 128.0f) / 128.0f;
    } else {
      const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(frame[0]) |
                                                   static_cast<std::uint16_t>(frame[1] << 8));
      samples[i] = static_cast<float>(value) / 32768.0f;
    }
  }
  return samples;
}

}  // namespace gst

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
  light_.clear();  // sized again by a stream with a light channel
  next_index_ = 0;
  chunks_.clear();
  crossings_.clear();
  has_last_ = false;
}

void SoundTimeline::Append(std::int64_t firstNs, double sampleNs, std::span<const float> samples) {
  if (samples.empty() || !(sampleNs > 0)) return;
  std::lock_guard lock(mutex_);
  AppendLocked(firstNs, sampleNs, samples, {}, false);
}

void SoundTimeline::Append(std::int64_t firstNs, double sampleNs, std::span<const float> samples,
                           std::span<const float> light) {
  if (samples.empty() || !(sampleNs > 0)) return;
  std::lock_guard lock(mutex_);
  AppendLocked(firstNs, sampleNs, samples, light, true);
}

void SoundTimeline::AppendLocked(std::int64_t firstNs, double sampleNs,
                                 std::span<const float> samples, std::span<const float> light,
                                 bool lit) {
  if (ring_.empty())
    ring_.assign(static_cast<std::size_t>(std::max(1.0, std::ceil(seconds_ * 1e9 / sampleNs))),
                 0.0f);
  if (lit && light_.size() != ring_.size()) light_.assign(ring_.size(), 0.0f);
  double first = static_cast<double>(firstNs);
  if (samples.size() > ring_.size()) {
    const std::size_t skipped = samples.size() - ring_.size();
    first += static_cast<double>(skipped) * sampleNs;
    samples = samples.subspan(skipped);
    light = light.subspan(std::min(skipped, light.size()));
    has_last_ = false;
  }
  if (lit) {
    // Only samples that are lit: a flash is never more than the light channel says.
    for (std::size_t i = 0; i < samples.size(); ++i)
      light_[(next_index_ + i) % light_.size()] =
          i < light.size() ? std::clamp(light[i], 0.0f, 1.0f) : 0.0f;
  }
  // A crossing between two buffers counts only when they follow each other without a gap.
  if (has_last_ && std::abs(first - (last_ns_ + sampleNs)) > sampleNs / 2) has_last_ = false;
  Chunk chunk{static_cast<std::int64_t>(std::llround(first)),
              sampleNs,
              next_index_,
              samples.size(),
              0.0f,
              lit};
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

bool SoundTimeline::CollectLocked(double from, double to, double shift, double mergeNs,
                                  std::vector<Flash>& flashes) const {
  bool lit = false;
  const auto after =
      std::upper_bound(chunks_.begin(), chunks_.end(), from, [](double t, const Chunk& c) {
        return t < static_cast<double>(c.firstNs) + static_cast<double>(c.count) * c.sampleNs;
      });
  for (auto chunk = after; chunk != chunks_.end(); ++chunk) {
    const auto start = static_cast<double>(chunk->firstNs);
    if (start >= to) break;
    if (!chunk->lit || light_.empty()) continue;
    lit = true;
    // The samples whose own time lies in [from, to).
    const auto count = static_cast<double>(chunk->count);
    const auto first = static_cast<std::size_t>(
        std::clamp(std::ceil((from - start) / chunk->sampleNs), 0.0, count));
    const auto last =
        static_cast<std::size_t>(std::clamp(std::ceil((to - start) / chunk->sampleNs), 0.0, count));
    // Sums relative to the flash's first sample keep the mean exact far from the clock's epoch.
    bool open = false;
    double openAt = 0, sum = 0, weighted = 0;
    auto close = [&] {
      if (open) flashes.push_back({openAt + weighted / sum + shift, sum});
      open = false;
    };
    for (std::size_t i = first; i < last; ++i) {
      const float light = light_[(chunk->firstIndex + i) % light_.size()];
      if (!(light > 0)) {
        close();
        continue;
      }
      const double at = start + static_cast<double>(i) * chunk->sampleNs;
      if (open && at - openAt > mergeNs) close();
      if (!open) {
        open = true;
        openAt = at;
        sum = weighted = 0;
      }
      const double energy = static_cast<double>(light) * chunk->sampleNs;
      sum += energy;
      weighted += energy * (at - openAt);
    }
    close();
  }
  return lit;
}

bool SoundTimeline::LightBetween(std::int64_t fromNs, std::int64_t toNs, double mergeNs,
                                 std::vector<Flash>& flashes) const {
  std::lock_guard lock(mutex_);
  if (chunks_.empty() || toNs < fromNs) return false;
  const auto from = static_cast<double>(fromNs), to = static_cast<double>(toNs);
  bool lit = CollectLocked(from, std::max(from, to), 0, mergeNs, flashes);
  const Chunk& last = chunks_.back();
  const double end =
      static_cast<double>(last.firstNs) + static_cast<double>(last.count) * last.sampleNs;
  if (to <= end || from > end + kAheadNs || !last.lit) return lit;
  // The buffer under way: the light of whole tone periods earlier, one period at a time.
  lit = true;
  if (crossings_.size() < 2) return lit;
  const double period = crossings_.back() - crossings_[crossings_.size() - 2];
  if (!(period > 0)) return lit;
  const double stop = std::min(to, end + kAheadNs);
  for (int j = 1; end + (j - 1) * period < stop; ++j) {
    const double pieceFrom = std::max(from, end + (j - 1) * period);
    const double pieceTo = std::min(stop, end + j * period);
    if (pieceTo > pieceFrom)
      CollectLocked(pieceFrom - j * period, pieceTo - j * period, j * period, mergeNs, flashes);
  }
  return lit;
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

std::vector<float> ChannelOneLight(const std::uint8_t* data, std::size_t bytes, bool eightBit,
                                   int channels) {
  if (channels < 2) return {};
  const std::size_t sampleBytes = eightBit ? 1 : 2;
  const std::size_t frameBytes = static_cast<std::size_t>(channels) * sampleBytes;
  std::vector<float> light(bytes / frameBytes);
  for (std::size_t i = 0; i < light.size(); ++i) {
    const std::uint8_t* sample = data + i * frameBytes + sampleBytes;
    float value = 0;
    if (eightBit) {
      value = (static_cast<float>(sample[0]) - 128.0f) / 127.0f;
    } else {
      const auto raw = static_cast<std::int16_t>(static_cast<std::uint16_t>(sample[0]) |
                                                 static_cast<std::uint16_t>(sample[1] << 8));
      value = static_cast<float>(raw) / 32767.0f;
    }
    light[i] = std::clamp(value, 0.0f, 1.0f);
  }
  return light;
}

}  // namespace gst

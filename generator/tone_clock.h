#pragma once
// The clock the tone is played on. A sound card plays its samples on its own crystal, which
// runs a little off the system's tick count; recording instants counted on this clock stay in
// phase with the tone however long the run.

#include <cstdint>

#include "platform/wave/wave_out.h"

namespace generator {

// One reading of the tone's clock, with the program's time source read at the same moment.
struct ToneReading {
  std::int64_t clockNs = 0;        // the tone's clock
  std::int64_t localNs = 0;        // the program's time source (TimeSource::Nanoseconds)
  std::int64_t firstSampleNs = 0;  // tone-clock time at which the tone's sample 0 plays
  std::uint32_t sampleRate = 0;
};

class ToneClock {
 public:
  virtual ~ToneClock() = default;
  // False when no tone plays or its device gives no clock.
  virtual bool Read(wave::HWAVEOUT device, ToneReading* reading) = 0;
};

// The clock of the open wave-output device, read against the steady clock.
class DeviceToneClock final : public ToneClock {
 public:
  bool Read(wave::HWAVEOUT device, ToneReading* reading) override {
    wave::ToneTiming timing;
    if (device == 0 || !wave::waveOutGetToneTiming(device, &timing)) return false;
    *reading = {timing.clockNs, timing.steadyNs, timing.firstSampleNs, timing.sampleRate};
    return true;
  }
};

// What a run's instants are counted on; Timer: no period clock, Timer 1 ticks.
enum class TimeBase { TickCount, Tone, Timer };

}  // namespace generator

#pragma once
// What the clock hands on at a recording instant: one value, so that whoever records the
// picture needs nothing else of the generator and never calls into it. Its moments are on the
// generator's time source, which the receiver shares.

#include <exception>

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>

#include "generator/strobe.h"
#include "generator/tone_clock.h"

namespace generator {

// The tone's phase in degrees (0 <= phase < 360) `seconds` after its sample 0 played: the
// start phase (radians), then numerator / denominator periods a second.
double TonePhaseDegrees(double numerator, std::int32_t denominator, double phase, double seconds);

// The run's time base and the tone as they stood at an instant: pure answers for any moment
// of the program's time source near it (a frame's capture, the due moment).
struct ToneTimeline {
  TimeBase base = TimeBase::TickCount;
  std::int64_t t0LocalNs = 0;  // T0 on the time source (tick-count base)
  std::int64_t t0ToneNs = 0;   // T0 on the tone's clock (tone base)
  ToneReading reading;         // the tone's clock at the instant, or the last one it gave
  bool toneAnswered = false;   // a tone with a clock played at the instant
  double freqNumerator = 0;
  std::int32_t freqDenominator = 0;
  double phase = 0;  // the tone's start phase, radians

  // Milliseconds since T0 on the run's time base.
  double MsSinceT0(std::int64_t localNs) const;
  // The tone's phase then; none without a tone that has a clock.
  std::optional<double> PhaseAt(std::int64_t localNs) const;
  // The stream's sample playing then (0: the tone's first), counted on the device's clock;
  // none without a tone that has a clock.
  std::optional<double> SampleAt(std::int64_t localNs) const;
  // The phase the tone has `msSinceT0` after T0, when T0 is its first sample.
  double IdealPhase(double msSinceT0) const;
};

// One recording instant.
struct Instant {
  std::int32_t number = 0;  // PictureNumber: names the file
  QString numberText;       // the picture number and T - T0 as the window shows them
  QString sinceT0Text;
  QDateTime dateTime;  // the date and time of the stamp
  TimeBase base = TimeBase::Timer;
  double dueMs = 0;  // when it was due and when the clock saw it, since T0 on the time base
  double actualMs = 0;
  std::int64_t dueLocalNs = 0;  // the due moment on the program's time source
  ToneTimeline tone;
};

// What a run's start hands on.
// The settings a run starts with, as the window holds them: for the run's record.
struct RunSettings {
  double numerator = 0;  // tone: numerator / denominator Hz
  std::int32_t denominator = 1;
  double amplitudePercent = 0;
  bool triangle = false;
  int phaseDeg = 0;  // 0 or 270
  std::int32_t sampleRate = 0;
  bool timerMode = false;   // Timer 1 takes the pictures instead of the period clock
  std::int32_t every = 0;   // NC0: tone periods between pictures in the clock mode
  double timerSeconds = 0;  // Timer 1's interval
  QString soundDevice;
  StrobeSettings strobe;  // mode Off: no strobe channel
};

struct RunStart {
  bool recordPictures = false;  // the run records pictures: it gets a folder of its own
  double toneHz = 0;
  RunSettings settings;
  // Where the strobe's pulses fall on the tone's samples (off without a strobe): the phase of
  // a strobed picture is its pulse's.
  StrobePlan strobe;
};

// What the receivers of a start or an instant report back through the signal: the first
// failure of their part, which the generator raises once the signal has returned. The
// signal is a synchronous call: every receiver answers through Run before it returns, so
// that a receiver connected otherwise than directly is found (Generator counts the answers).
struct Outcome {
  std::exception_ptr failure;
  int answers = 0;  // receivers that ran their part
  // Runs one receiver's part; what it throws is kept (the first only) instead of going
  // through the signal.
  template <class Step>
  void Run(Step&& step) {
    ++answers;
    try {
      step();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
};

}  // namespace generator

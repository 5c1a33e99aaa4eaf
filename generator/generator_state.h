#pragma once
// The generator's one record for the whole program run: the tone parameters the start
// validates, the device and its two sample buffers, and the clock state of the period clock.

#include <cstdint>
#include <vector>

#include "generator/tone_clock.h"
#include "platform/forms/events.h"
#include "platform/wave/wave_out.h"

class QWidget;

namespace generator {

// 2π as the original wrote it: the decimal constant, not the full-precision value.
inline constexpr double kTwoPi = 6.28318530717958;
// 270° as the original computed it.
inline constexpr double kPhase270 = 9.42477796076937 / 2;

struct GeneratorState {
  // Tone and audio resources.
  double FreqNumerator = 0;
  std::int32_t FreqDenominator = 0;
  double Omega = 0;
  double Amplitude = 0;
  double Phase = 0;
  double TriangleStep = 0;
  std::int32_t SampleRate = 0;
  wave::WAVEFORMATEX WaveFormat;
  std::int32_t BufferLength = 0;
  std::vector<std::int16_t> Buffer1;
  std::vector<std::int16_t> Buffer2;
  wave::WAVEHDR Header1;
  wave::WAVEHDR Header2;
  wave::HWAVEOUT WaveOutHandle = 0;
  QWidget* CallbackWindow = nullptr;
  forms::WindowProc PrevWndProc;

  // Clock and display.
  double AmplitudeFraction = 0;
  std::int32_t StopRequested = 0;
  double ClockPeriod = 0;
  std::int32_t NC0 = 0;
  std::int32_t PeriodsInGroup = 0;
  std::int32_t PictureNumber = 0;
  double TickStart = 0;
  double TickNow = 0;
  double TickLast = 0;
  double DrawScale = 0;
};

}  // namespace generator

#include "generator/synthesis.h"

#include <QString>
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>

#include "generator/logging.h"
#include "platform/forms/conversions.h"
#include "platform/forms/message_box.h"
#include "platform/forms/runtime_error.h"

namespace generator {
namespace {

// Nearest-even with a range check, like the conversion to a 16-bit sample.
std::int16_t ToSample(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) forms::Raise(forms::kOverflow);
  return static_cast<std::int16_t>(rounded);
}

std::int16_t& At(std::vector<std::int16_t>& buffer, std::int32_t length, std::int32_t index) {
  if (index < 0 || index >= length) forms::Raise(forms::kSubscriptOutOfRange);
  return buffer[static_cast<size_t>(index)];
}

void FillSine(GeneratorState& s, std::vector<std::int16_t>& buffer) {
  const double rate = s.SampleRate;
  const double denominator = s.FreqDenominator;
  for (std::int32_t i = 0; i < s.BufferLength; ++i) {
    const double t = forms::Divide(forms::Divide(i, rate), denominator);
    const double x = s.Omega * t + s.Phase;
    At(buffer, s.BufferLength, i) = ToSample(s.Amplitude * std::sin(x));
  }
}

void FillTriangle(GeneratorState& s, std::vector<std::int16_t>& buffer, const WaveShape& shape) {
  const double n = s.FreqNumerator;
  const double a = s.Amplitude;
  const double length = s.BufferLength;
  s.TriangleStep = forms::Divide(n * 4 * a, length);
  const double ts = s.TriangleStep;
  // The breakpoints fall up to a sample early when a period is not a multiple of 4 samples;
  // the peaks are clamped so that the ramps never overshoot the amplitude.
  const auto sample = [a](double value) { return ToSample(std::clamp(value, -a, a)); };
  const std::int32_t last = forms::CLng(forms::Divide(length, n) - 1);
  if (shape.phase270) {
    const double h = forms::Divide(forms::Divide(length, 2), n) - 1;
    for (std::int32_t i = 0; i <= last; ++i)
      At(buffer, s.BufferLength, i) = i <= h ? sample(i * ts - a) : sample(3 * a - i * ts);
  } else if (shape.phase0) {
    const double q1 = forms::Divide(forms::Divide(length, 4), n) - 1;
    const double q3 =
        forms::Divide(forms::Divide(forms::ToLong(std::int64_t{3} * s.BufferLength), 4), n) - 1;
    for (std::int32_t i = 0; i <= last; ++i) {
      const double value = i <= q1 ? i * ts : i <= q3 ? 2 * a - i * ts : i * ts - 4 * a;
      At(buffer, s.BufferLength, i) = sample(value);
    }
  }
  // The first period, copied into the following ones.
  const std::int32_t periods = forms::CLng(n - 1);
  const std::int32_t periodEnd = forms::CLng(forms::Divide(length, n) - 1);
  for (std::int32_t p = 1; p <= periods; ++p) {
    const double start = forms::Divide(forms::ToLong(std::int64_t{p} * s.BufferLength), n);
    for (std::int32_t j = 0; j <= periodEnd; ++j) {
      At(buffer, s.BufferLength, forms::CLng(start + j)) = At(buffer, s.BufferLength, j);
    }
  }
}

}  // namespace

void FillBuffer(GeneratorState& state, std::vector<std::int16_t>& buffer, const WaveShape& shape) {
  const int savedRounding = std::fegetround();
  std::fesetround(FE_TONEAREST);
  try {
    // A buffer that was never allocated (the device did not open) cannot be filled.
    if (buffer.empty() || static_cast<std::int64_t>(buffer.size()) < state.BufferLength)
      forms::Raise(forms::kSubscriptOutOfRange);
    if (shape.sine) FillSine(state, buffer);
    if (shape.triangle) FillTriangle(state, buffer, shape);
  } catch (const forms::RuntimeError& error) {
    forms::LogFailure(lcGenerator(), "the synthesis", error);
    forms::MsgBox(QString::fromUtf8("Частота дискретизации не делится на 2 без остатка"),
                  QStringLiteral("FillBuffer"));
  }
  std::fesetround(savedRounding);
}

}  // namespace generator

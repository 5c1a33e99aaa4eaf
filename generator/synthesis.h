#pragma once
// Synthesis of one sample buffer of the tone: a sine or a symmetric triangle of N / D Hz.

#include <cstdint>
#include <vector>

#include "generator/generator_state.h"

namespace generator {

// The option buttons as they stand when the buffer is filled.
struct WaveShape {
  bool sine = true;       // Option1
  bool triangle = false;  // Option2
  bool phase0 = true;     // Option3
  bool phase270 = false;  // Option4
};

// Fills the first BufferLength samples of `buffer` from the tone fields of `state` (the
// triangle also sets TriangleStep). On a failure it stops at that sample, shows its message
// box and returns normally; what was written stays.
void FillBuffer(GeneratorState& state, std::vector<std::int16_t>& buffer, const WaveShape& shape);

}  // namespace generator

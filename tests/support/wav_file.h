#pragma once
// The WAV reader of the wave-output library, under the name the suites use.

#include "platform/wave/wav_file.h"

namespace testing_support {

using WavContent = wave::WavContent;
using wave::ReadWav;

}  // namespace testing_support

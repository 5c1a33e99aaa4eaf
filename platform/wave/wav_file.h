#pragma once
// Reads the samples of a 16-bit mono WAV file, as the virtual sound device writes them.

#include <QString>
#include <cstdint>
#include <vector>

namespace wave {

struct WavContent {
  bool valid = false;
  std::uint32_t sampleRate = 0;
  std::vector<std::int16_t> samples;
};

// Reads the "fmt " and "data" chunks; a data chunk whose size is 0 or runs past the end of
// the file (a header that was never brought up to its samples) is read to the end of the file.
WavContent ReadWav(const QString& path);

}  // namespace wave

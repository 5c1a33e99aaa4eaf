#pragma once
// The WAV reader of the wave-output library, under the name the suites use, and a reader of
// the sizes a WAV header claims, to hold them against the file's length.

#include <QByteArray>
#include <QtEndian>
#include <cstdint>

#include "platform/wave/wav_file.h"

namespace testing_support {

using WavContent = wave::WavContent;
using wave::ReadWav;

struct WavSizes {
  bool found = false;          // a RIFF/WAVE file with a data chunk
  std::uint32_t riffSize = 0;  // the RIFF chunk's size field
  qint64 dataOffset = 0;       // where the samples start
  std::uint32_t dataSize = 0;  // the data chunk's size field
};

// The sizes in the header of the WAV file `bytes`, walking the chunks to the data chunk.
inline WavSizes ReadWavSizes(const QByteArray& bytes) {
  WavSizes sizes;
  if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE") return sizes;
  sizes.riffSize = qFromLittleEndian<quint32>(bytes.constData() + 4);
  qint64 at = 12;
  while (at + 8 <= bytes.size()) {
    const std::uint32_t size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
    if (bytes.mid(at, 4) == "data") {
      sizes.found = true;
      sizes.dataOffset = at + 8;
      sizes.dataSize = size;
      return sizes;
    }
    at += 8 + size + (size & 1);
  }
  return sizes;
}

}  // namespace testing_support

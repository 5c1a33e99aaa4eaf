#include "platform/wave/wav_file.h"

#include <QFile>
#include <cstring>

namespace wave {
namespace {

std::uint32_t U32(const QByteArray& bytes, qsizetype at) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.constData() + at, 4);
  return value;
}

}  // namespace

WavContent ReadWav(const QString& path) {
  WavContent content;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return content;
  const QByteArray bytes = file.readAll();
  if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE") return content;
  qsizetype at = 12;
  while (at + 8 <= bytes.size()) {
    const QByteArray id = bytes.mid(at, 4);
    std::uint32_t size = U32(bytes, at + 4);
    at += 8;
    if (id == "fmt " && at + 16 <= bytes.size()) {
      content.sampleRate = U32(bytes, at + 4);
    } else if (id == "data") {
      const qsizetype available = bytes.size() - at;
      if (size == 0 || size > available) size = static_cast<std::uint32_t>(available);
      content.samples.resize(size / 2);
      std::memcpy(content.samples.data(), bytes.constData() + at, content.samples.size() * 2);
      content.valid = true;
      return content;
    }
    at += size + (size & 1);
  }
  return content;
}

}  // namespace wave

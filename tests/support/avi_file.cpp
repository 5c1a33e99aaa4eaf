#include "tests/support/avi_file.h"

#include <QFile>
#include <QtEndian>

namespace testing_support {
namespace {

std::uint32_t U32(const QByteArray& bytes, qsizetype at) {
  return at + 4 <= bytes.size() ? qFromLittleEndian<quint32>(bytes.constData() + at) : 0;
}

// Walks the chunks of [begin, end), descending into LIST chunks.
void Walk(const QByteArray& bytes, qsizetype begin, qsizetype end, AviInfo& info) {
  for (qsizetype at = begin; at + 8 <= end;) {
    const QByteArray id = bytes.mid(at, 4);
    const std::uint32_t size = U32(bytes, at + 4);
    const qsizetype data = at + 8;
    if (id == "LIST" && size >= 4) {
      if (bytes.mid(data, 4) != "movi") Walk(bytes, data + 4, data + size, info);
    } else if (id == "avih") {
      info.microSecPerFrame = U32(bytes, data);
      info.totalFrames = U32(bytes, data + 16);
      info.width = static_cast<int>(U32(bytes, data + 32));
      info.height = static_cast<int>(U32(bytes, data + 36));
    } else if (id == "strh") {
      const QByteArray type = bytes.mid(data, 4);
      if (type == "vids") {
        ++info.videoStreams;
        const QByteArray handler = bytes.mid(data + 4, 4);
        info.videoHandler =
            handler == QByteArray(4, '\0') ? QString() : QString::fromLatin1(handler);
      }
      if (type == "auds") ++info.audioStreams;
    } else if (id == "idx1" || id == "indx") {
      info.hasIndex = size > 0;
      if (id == "idx1") info.idx1Entries = size / 16;
    }
    at = data + size + (size & 1);
  }
}

}  // namespace

AviInfo ReadAvi(const QString& path) {
  AviInfo info;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return info;
  const QByteArray bytes = file.readAll();
  if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "AVI ") return info;
  info.valid = true;
  Walk(bytes, 12, bytes.size(), info);
  return info;
}

}  // namespace testing_support

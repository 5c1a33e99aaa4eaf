#include "platform/gst/avi_repair.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>

namespace gst {
namespace {

using FourCc = std::array<char, 4>;

constexpr qint64 kCopyBlock = qint64{1} << 20;
constexpr qint64 kIndexBlock = qint64{1} << 16;
constexpr std::uint32_t kKeyFrame = 0x10;  // AVIIF_KEYFRAME: every frame of ours stands alone
constexpr std::size_t kMaxStreams = 100;   // two digits name a stream's chunks
constexpr qint64 kMaxRiffEnd = qint64{0xFFFFFFFF} + 8;
constexpr int kMaxListDepth = 4;

bool Is(const FourCc& id, const char* text) {
  return std::memcmp(id.data(), text, 4) == 0;
}

bool Printable(const FourCc& id) {
  return std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
}

bool Digit(char c) {
  return c >= '0' && c <= '9';
}

bool Letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The stream a movi chunk belongs to ("00dc", "01wb"), or -1 for any other chunk.
int StreamOf(const FourCc& id) {
  if (!Digit(id[0]) || !Digit(id[1]) || !Letter(id[2]) || !Letter(id[3])) return -1;
  return (id[0] - '0') * 10 + (id[1] - '0');
}

struct Chunk {
  FourCc id{};
  std::uint32_t size = 0;
  qint64 at = 0;      // of its header
  FourCc listType{};  // of a LIST or RIFF
  qint64 Data() const { return at + 8; }
  qint64 DataEnd() const { return Data() + qint64{size}; }
  qint64 End() const { return DataEnd() + (size & 1); }  // with its pad byte
  bool IsList(const char* type) const {
    return (Is(id, "LIST") || Is(id, "RIFF")) && Is(listType, type);
  }
};

// Bounded reads of the file being repaired: nothing is read past its end.
class Source {
 public:
  explicit Source(QFile& file) : file_(file), size_(file.size()) {}
  qint64 Size() const { return size_; }

  bool Read(qint64 at, void* into, qint64 bytes) {
    if (at < 0 || bytes < 0 || bytes > size_ || at > size_ - bytes) return false;
    return file_.seek(at) && file_.read(static_cast<char*>(into), bytes) == bytes;
  }
  std::optional<std::uint32_t> U32(qint64 at) {
    std::array<uchar, 4> bytes{};
    if (!Read(at, bytes.data(), 4)) return std::nullopt;
    return qFromLittleEndian<quint32>(bytes.data());
  }
  // The chunk header at `at`, with the type of a list; none when it is cut off.
  std::optional<Chunk> ChunkAt(qint64 at) {
    std::array<char, 12> bytes{};
    const qint64 available = std::min<qint64>(12, size_ - at);
    if (available < 8 || !Read(at, bytes.data(), available)) return std::nullopt;
    Chunk chunk;
    chunk.at = at;
    std::copy_n(bytes.begin(), 4, chunk.id.begin());
    chunk.size = qFromLittleEndian<quint32>(bytes.data() + 4);
    if (Is(chunk.id, "LIST") || Is(chunk.id, "RIFF")) {
      if (available < 12) return std::nullopt;
      std::copy_n(bytes.begin() + 8, 4, chunk.listType.begin());
    }
    return chunk;
  }

 private:
  QFile& file_;
  qint64 size_;
};

struct Stream {
  FourCc type{};
  std::uint32_t sampleSize = 0;
  qint64 lengthAt = -1;         // strh dwLength; dwSuggestedBufferSize follows
  std::optional<Chunk> master;  // the OpenDML index of the parts' indexes, or its room (JUNK)
  std::uint64_t chunks = 0;
  std::uint64_t bytes = 0;
  std::uint32_t largest = 0;
  std::uint64_t Length() const { return sampleSize > 0 ? bytes / sampleSize : chunks; }
};

// Where the header's numbers are that only the end of the stream sets.
struct Layout {
  qint64 totalFramesAt = -1;  // avih dwTotalFrames
  qint64 odmlFramesAt = -1;   // dmlh dwTotalFrames, of OpenDML files
  std::vector<Stream> streams;
  Chunk movi;

  std::uint64_t VideoFrames() const {
    for (const Stream& stream : streams)
      if (Is(stream.type, "vids")) return stream.chunks;
    return 0;
  }
};

// The header lists (hdrl, strl, odml) within [begin, end): they are written whole when the
// recording starts, so anything cut off or out of place in them is damage.
bool ParseList(Source& source, qint64 begin, qint64 end, int depth, Layout& layout, QString* why) {
  for (qint64 at = begin; at + 8 <= end;) {
    const std::optional<Chunk> chunk = source.ChunkAt(at);
    if (!chunk || !Printable(chunk->id) || chunk->DataEnd() > end) {
      *why = QStringLiteral("its header is damaged");
      return false;
    }
    if (Is(chunk->id, "avih") && chunk->size >= 56) {
      layout.totalFramesAt = chunk->Data() + 16;
    } else if (Is(chunk->id, "strh") && chunk->size >= 48 && !layout.streams.empty()) {
      Stream& stream = layout.streams.back();
      if (!source.Read(chunk->Data(), stream.type.data(), 4)) {
        *why = QStringLiteral("it could not be read");
        return false;
      }
      stream.lengthAt = chunk->Data() + 32;
      stream.sampleSize = source.U32(chunk->Data() + 44).value_or(0);
    } else if ((Is(chunk->id, "indx") || Is(chunk->id, "JUNK")) && chunk->size >= 24 && depth > 1 &&
               !layout.streams.empty()) {
      layout.streams.back().master = *chunk;
    } else if (Is(chunk->id, "dmlh") && chunk->size >= 4) {
      layout.odmlFramesAt = chunk->Data();
    } else if (depth < kMaxListDepth && (chunk->IsList("strl") || chunk->IsList("odml"))) {
      if (chunk->IsList("strl")) {
        if (layout.streams.size() >= kMaxStreams) {
          *why = QStringLiteral("its header names too many streams");
          return false;
        }
        layout.streams.emplace_back();
      }
      if (!ParseList(source, chunk->Data() + 4, chunk->DataEnd(), depth + 1, layout, why))
        return false;
    }
    at = chunk->End();
  }
  return true;
}

// The chunks before the movi list: the header must be there whole.
bool ParseHeader(Source& source, Layout& layout, QString* why) {
  bool header = false;
  for (qint64 at = 12;;) {
    const std::optional<Chunk> chunk = source.ChunkAt(at);
    if (!chunk) {
      *why = header ? QStringLiteral("it holds no recording (no movi list)")
                    : QStringLiteral("its header is incomplete");
      return false;
    }
    if (!Printable(chunk->id)) {
      *why = QStringLiteral("its header is damaged");
      return false;
    }
    if (chunk->IsList("movi")) {
      layout.movi = *chunk;
      break;
    }
    if (chunk->DataEnd() > source.Size()) {
      *why = QStringLiteral("its header is incomplete");
      return false;
    }
    if (chunk->IsList("hdrl")) {
      if (!ParseList(source, chunk->Data() + 4, chunk->DataEnd(), 1, layout, why)) return false;
      header = true;
    }
    at = chunk->End();
  }
  if (!header || layout.totalFramesAt < 0 || layout.streams.empty()) {
    *why = QStringLiteral("it has no AVI header");
    return false;
  }
  return true;
}

// One RIFF part of the file: the first ('AVI ') with the header, or a further one ('AVIX') of
// an OpenDML recording over 1 GB.
struct Part {
  qint64 riffAt = 0;
  Chunk movi;
  qint64 chunksEnd = 0;  // after its last whole chunk
  qint64 indexEnd = 0;   // after a whole idx1 that follows the chunks (the first part's)
  std::uint64_t frames = 0;
  std::optional<Chunk> partIndex;  // its OpenDML index (ix00), written when the part ended
};

struct Walk {
  std::vector<Part> parts;
  bool padMissing = false;  // the last chunk's pad byte was cut off
  std::uint64_t chunks = 0;
};

// Sees each stream chunk with its stream and the index of its part.
using ChunkVisitor = std::function<void(const Chunk&, int stream, std::size_t part)>;

constexpr std::size_t kMaxParts = 1000;

// Walks the recorded chunks one by one, whatever the movi lists' and RIFF parts' stated sizes,
// into the next parts as they come, up to the first chunk that is not whole or not a
// recording's. `visit` sees each stream chunk.
Walk WalkChunks(Source& source, const Layout& layout, const ChunkVisitor& visit) {
  Walk walk;
  Part first;
  first.movi = layout.movi;
  walk.parts.push_back(first);
  const qint64 size = source.Size();
  for (qint64 at = layout.movi.at + 12;;) {
    Part& part = walk.parts.back();
    if (part.indexEnd == 0) part.chunksEnd = at;
    if (at >= size) return walk;
    const std::optional<Chunk> chunk = source.ChunkAt(at);
    if (!chunk) return walk;
    const int stream = StreamOf(chunk->id);
    const bool partIndex =
        chunk->id[0] == 'i' && chunk->id[1] == 'x' && Digit(chunk->id[2]) && Digit(chunk->id[3]);
    const bool ours = (stream >= 0 && static_cast<std::size_t>(stream) < layout.streams.size()) ||
                      Is(chunk->id, "JUNK") || chunk->IsList("rec ") || partIndex;
    if (ours && part.indexEnd == 0) {
      if (chunk->DataEnd() > size) return walk;
      if (stream >= 0) {
        ++walk.chunks;
        if (stream == 0) ++part.frames;
        if (visit) visit(*chunk, stream, walk.parts.size() - 1);
      }
      if (partIndex && Is(chunk->id, "ix00")) part.partIndex = *chunk;
      if (chunk->End() > size) {
        part.chunksEnd = size;
        walk.padMissing = true;
        return walk;
      }
      at = chunk->End();
    } else if (Is(chunk->id, "idx1") && walk.parts.size() == 1 && part.indexEnd == 0) {
      if (chunk->DataEnd() > size) return walk;
      part.indexEnd = std::min(chunk->End(), size);
      at = part.indexEnd;
    } else if (Is(chunk->id, "RIFF") && chunk->IsList("AVIX") && walk.parts.size() < kMaxParts) {
      const std::optional<Chunk> movi = source.ChunkAt(at + 12);
      if (!movi || !movi->IsList("movi")) return walk;
      Part next;
      next.riffAt = at;
      next.movi = *movi;
      walk.parts.push_back(next);
      at = movi->at + 12;
    } else {
      return walk;
    }
  }
}

// Whether the RIFF parts from `at` on each fit the file and end exactly with it.
bool SegmentsFit(Source& source, qint64 at) {
  while (at < source.Size()) {
    const std::optional<Chunk> riff = source.ChunkAt(at);
    if (!riff || !Is(riff->id, "RIFF") || riff->DataEnd() > source.Size()) return false;
    at = riff->End();
  }
  return at <= source.Size() + 1;
}

// Whether the sizes the file states hold: its RIFF parts end with the file, and the first one
// has its movi list followed by a whole index, with a frame count in the header when it has
// video frames. Such a file was finished, whatever its chunks are.
bool StatedSizesHold(Source& source, const Layout& layout) {
  const qint64 riffEnd = qint64{source.U32(4).value_or(0)} + 8;
  if (riffEnd > source.Size() + 1 || layout.movi.DataEnd() > riffEnd) return false;
  const std::optional<Chunk> index = source.ChunkAt(layout.movi.End());
  if (!index || !Is(index->id, "idx1") || index->DataEnd() > riffEnd) return false;
  if (layout.VideoFrames() > 0 && source.U32(layout.totalFramesAt).value_or(0) == 0) return false;
  return SegmentsFit(source, riffEnd);
}

// A file descriptor closed on leaving, for the folder's sync.
struct Descriptor {
  explicit Descriptor(int value) : fd(value) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd;
};

void SyncFolder(const QString& folder) {
  const Descriptor dir(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY));
  if (dir.fd >= 0) ::fsync(dir.fd);
}

QByteArray U32Bytes(std::uint32_t value) {
  QByteArray bytes(4, '\0');
  qToLittleEndian<quint32>(value, bytes.data());
  return bytes;
}

std::uint32_t Clamp32(std::uint64_t value) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFF));
}

void Append16(QByteArray& bytes, std::uint16_t value) {
  bytes.append(static_cast<char>(value & 0xFF)).append(static_cast<char>(value >> 8));
}

void Append32(QByteArray& bytes, std::uint32_t value) {
  bytes.append(U32Bytes(value));
}

void Append64(QByteArray& bytes, std::uint64_t value) {
  Append32(bytes, static_cast<std::uint32_t>(value & 0xFFFFFFFF));
  Append32(bytes, static_cast<std::uint32_t>(value >> 32));
}

// Why a file of several parts cannot get its OpenDML index back; empty when it can: one
// stream, room for an entry of each part in the header, and each part but the last with the
// index written when it ended.
QString PartsProblem(Source& source, const Layout& layout, const Walk& walk) {
  const std::size_t parts = walk.parts.size();
  if (layout.streams.size() != 1 || !layout.streams[0].master ||
      layout.streams[0].master->size < 24 + 16 * parts)
    return QStringLiteral(
        "its recording went on past 1 GB without room for the index of "
        "its parts");
  for (std::size_t k = 0; k + 1 < parts; ++k) {
    const std::optional<Chunk>& index = walk.parts[k].partIndex;
    if (!index || index->size < 24 ||
        source.U32(index->Data() + 4).value_or(0) != walk.parts[k].frames)
      return QStringLiteral("a part of its recording past 1 GB lacks its index");
  }
  return {};
}

// Writes the repaired copy of `source` into `out`: the file up to its last whole chunk, the
// index of its last part (idx1 for a file of one part, an OpenDML part index otherwise), and
// the sizes, counts and index of parts set. False, with the reason, when it could not.
bool WriteRepaired(Source& source, const Layout& layout, const Walk& walk, QFile& out,
                   QString* why) {
  const Part& last = walk.parts.back();
  const std::size_t lastPart = walk.parts.size() - 1;
  const bool parts = lastPart > 0;
  bool written = true;
  auto put = [&](const QByteArray& bytes) {
    written = written && out.write(bytes) == bytes.size();
  };
  QByteArray block(kCopyBlock, '\0');
  for (qint64 at = 0; at < last.chunksEnd && written;) {
    const qint64 bytes = std::min(kCopyBlock, last.chunksEnd - at);
    if (!source.Read(at, block.data(), bytes)) {
      *why = QStringLiteral("it could not be read");
      return false;
    }
    written = out.write(block.constData(), bytes) == bytes;
    at += bytes;
  }
  if (walk.padMissing) put(QByteArray(1, '\0'));
  const qint64 moviEnd = last.chunksEnd + (walk.padMissing ? 1 : 0);
  const auto entries = static_cast<qint64>(parts ? last.frames : walk.chunks);
  const qint64 indexSize = parts ? 24 + 8 * entries : 16 * entries;
  const qint64 total = moviEnd + 8 + indexSize;
  if (total - last.riffAt > kMaxRiffEnd) {
    *why = QStringLiteral("its frames do not fit one RIFF part");
    return false;
  }
  // The stream's chunk code, as the index of the first part names it.
  FourCc code{};
  if (parts && !source.Read(walk.parts[0].partIndex->Data() + 8, code.data(), 4)) {
    *why = QStringLiteral("it could not be read");
    return false;
  }
  QByteArray index;
  if (parts) {
    index.append("ix00", 4);
    Append32(index, static_cast<std::uint32_t>(indexSize));
    Append16(index, 2);               // longs an entry
    index.append('\0').append('\1');  // AVI_INDEX_OF_CHUNKS
    Append32(index, static_cast<std::uint32_t>(entries));
    index.append(code.data(), 4);
    Append64(index, static_cast<std::uint64_t>(last.riffAt));
    Append32(index, 0);
  } else {
    index.append("idx1", 4);
    Append32(index, static_cast<std::uint32_t>(indexSize));
  }
  // The entries come from a second walk and are written as they come: the index is never
  // held whole.
  const qint64 moviOffsets = layout.movi.Data();  // idx1 counts from the 'movi' code
  std::uint64_t listed = 0;
  const Walk again =
      WalkChunks(source, layout, [&](const Chunk& chunk, int stream, std::size_t part) {
        if (!parts) {
          index.append(chunk.id.data(), 4);
          Append32(index, kKeyFrame);
          Append32(index, static_cast<std::uint32_t>(chunk.at - moviOffsets));
          Append32(index, chunk.size);
        } else if (part == lastPart && stream == 0) {
          Append32(index, static_cast<std::uint32_t>(chunk.Data() - last.riffAt));
          Append32(index, chunk.size);  // the top bit clear: a key frame
        } else {
          return;
        }
        ++listed;
        if (index.size() >= kIndexBlock) {
          put(index);
          index.clear();
        }
      });
  put(index);
  if (static_cast<qint64>(listed) != entries || again.parts.size() < walk.parts.size() ||
      again.parts[lastPart].chunksEnd != last.chunksEnd) {
    *why = QStringLiteral("it changed while being repaired");
    return false;
  }
  // The sizes and counts the muxer would have set at the end of the stream.
  auto set = [&](qint64 at, const QByteArray& bytes) {
    written = written && out.seek(at) && out.write(bytes) == bytes.size();
  };
  auto set32 = [&](qint64 at, std::uint64_t value) { set(at, U32Bytes(Clamp32(value))); };
  constexpr std::uint32_t kHasIndex = 0x10;  // AVIF_HASINDEX: players look for idx1
  const qint64 flagsAt = layout.totalFramesAt - 4;
  set32(flagsAt, source.U32(flagsAt).value_or(0) | kHasIndex);
  // An OpenDML header counts the first part's frames in avih and all of them in dmlh and
  // the stream's header.
  set32(layout.totalFramesAt, parts ? walk.parts[0].frames : layout.VideoFrames());
  if (layout.odmlFramesAt >= 0) set32(layout.odmlFramesAt, layout.VideoFrames());
  for (const Stream& stream : layout.streams) {
    if (stream.lengthAt < 0) continue;
    set32(stream.lengthAt, stream.Length());
    // The size a player's read buffer needs, unless the recording gave one.
    if (source.U32(stream.lengthAt + 4).value_or(0) == 0)
      set32(stream.lengthAt + 4, stream.largest);
  }
  for (std::size_t k = 0; k <= lastPart; ++k) {
    const Part& part = walk.parts[k];
    const qint64 partEnd = k < lastPart ? walk.parts[k + 1].riffAt : total;
    set32(part.riffAt + 4, partEnd - part.riffAt - 8);
    // A part index lies in its movi list, the idx1 after it.
    const qint64 moviListEnd = k < lastPart ? part.chunksEnd : parts ? total : moviEnd;
    set32(part.movi.at + 4, moviListEnd - part.movi.Data());
  }
  if (parts) {
    // The index of the parts' indexes, in the room the header keeps for it.
    const Chunk& master = *layout.streams[0].master;
    QByteArray entry;
    entry.append("indx", 4);
    Append32(entry, master.size);
    Append16(entry, 4);               // longs an entry
    entry.append('\0').append('\0');  // AVI_INDEX_OF_INDEXES
    Append32(entry, static_cast<std::uint32_t>(walk.parts.size()));
    entry.append(code.data(), 4);
    entry.append(QByteArray(12, '\0'));
    for (std::size_t k = 0; k < lastPart; ++k) {
      const Chunk& partIndex = *walk.parts[k].partIndex;
      Append64(entry, static_cast<std::uint64_t>(partIndex.at));
      Append32(entry, partIndex.size + 8);
      Append32(entry, static_cast<std::uint32_t>(walk.parts[k].frames));
    }
    Append64(entry, static_cast<std::uint64_t>(moviEnd));
    Append32(entry, static_cast<std::uint32_t>(indexSize + 8));
    Append32(entry, static_cast<std::uint32_t>(last.frames));
    entry.append(QByteArray(
        static_cast<qsizetype>(master.Data() + master.size - master.at) - entry.size(), '\0'));
    set(master.at, entry);
  }
  if (!written || !out.flush()) {
    *why = QStringLiteral("its repaired copy could not be written: %1").arg(out.errorString());
    return false;
  }
  return true;
}

}  // namespace

QString AviRepairReport::Text() const {
  switch (outcome) {
    case Outcome::Sound:
      return QStringLiteral("%1 needs no repair").arg(path);
    case Outcome::Repaired:
      return bytesDropped == 0
                 ? QStringLiteral("repaired %1: %2 frames kept").arg(path).arg(framesKept)
                 : QStringLiteral(
                       "repaired %1: %2 frames kept, %3 bytes of an unfinished end "
                       "dropped")
                       .arg(path)
                       .arg(framesKept)
                       .arg(bytesDropped);
    case Outcome::Failed:
      break;
  }
  return QStringLiteral("cannot repair %1: %2").arg(path, reason);
}

AviRepairReport RepairAvi(const QString& path) {
  AviRepairReport report;
  report.path = path;
  auto fail = [&](const QString& reason) {
    report.outcome = AviRepairReport::Outcome::Failed;
    report.reason = reason;
    return report;
  };
  const QFileInfo info(path);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
  Source source(file);
  if (source.Size() == 0) return fail(QStringLiteral("the file is empty"));
  std::array<char, 12> start{};
  if (!source.Read(0, start.data(), 12) || std::memcmp(start.data(), "RIFF", 4) != 0 ||
      std::memcmp(start.data() + 8, "AVI ", 4) != 0)
    return fail(QStringLiteral("it is not an AVI file"));
  Layout layout;
  QString why;
  if (!ParseHeader(source, layout, &why)) return fail(why);
  Walk walk = WalkChunks(source, layout, [&](const Chunk& chunk, int stream, std::size_t) {
    Stream& counted = layout.streams[static_cast<std::size_t>(stream)];
    ++counted.chunks;
    counted.bytes += chunk.size;
    counted.largest = std::max(counted.largest, chunk.size);
  });
  // A part begun just before the end, without a frame yet, is left out.
  while (walk.parts.size() > 1 && walk.parts.back().chunksEnd == walk.parts.back().movi.at + 12)
    walk.parts.pop_back();
  report.framesKept = layout.VideoFrames();

  if (StatedSizesHold(source, layout)) {
    report.outcome = AviRepairReport::Outcome::Sound;
    return report;
  }
  if (walk.parts.size() > 1) {
    if (const QString problem = PartsProblem(source, layout, walk); !problem.isEmpty())
      return fail(problem);
  }
  const Part& last = walk.parts.back();
  const qint64 kept = walk.parts.size() == 1 && last.indexEnd > 0 ? last.indexEnd : last.chunksEnd;
  report.bytesDropped = static_cast<std::uint64_t>(source.Size() - kept);

  // The repaired copy goes beside the file under a name of its own; the file stays as it is
  // until the copy is complete and on the disk.
  const QString folder = info.absolutePath();
  QTemporaryFile out(
      QDir(folder).filePath(QStringLiteral(".%1.XXXXXX.repairing").arg(info.fileName())));
  if (!out.open()) return fail(QStringLiteral("cannot write beside it: %1").arg(out.errorString()));
  if (!WriteRepaired(source, layout, walk, out, &why)) return fail(why);
  out.setPermissions(file.permissions());
  out.setFileTime(info.lastModified(), QFileDevice::FileModificationTime);
  if (::fsync(out.handle()) != 0)
    return fail(QStringLiteral("its repaired copy could not be written to the disk"));
  // Something writing to the file meanwhile (a recording after all) keeps it.
  const QFileInfo now(path);
  if (now.size() != source.Size() || now.lastModified() != info.lastModified())
    return fail(QStringLiteral("it changed while being repaired"));
  out.setAutoRemove(false);
  if (std::rename(QFile::encodeName(out.fileName()).constData(),
                  QFile::encodeName(path).constData()) != 0) {
    out.remove();
    return fail(QStringLiteral("its repaired copy could not replace it"));
  }
  SyncFolder(folder);
  report.outcome = AviRepairReport::Outcome::Repaired;
  return report;
}

std::vector<AviRepairReport> RepairAviFolder(const QString& folder, std::chrono::seconds quiet) {
  std::vector<AviRepairReport> reports;
  const QDateTime now = QDateTime::currentDateTimeUtc();
  // A repair cut short (the program killed meanwhile) leaves its copy, as big as the video.
  for (const QFileInfo& copy : QDir(folder).entryInfoList({QStringLiteral(".*.avi.*.repairing")},
                                                          QDir::Files | QDir::Hidden))
    if (copy.lastModified().secsTo(now) >= quiet.count()) QFile::remove(copy.filePath());
  const QFileInfoList files =
      QDir(folder).entryInfoList({QStringLiteral("*.avi")}, QDir::Files, QDir::Name);
  for (const QFileInfo& file : files) {
    if (file.lastModified().secsTo(now) < quiet.count()) continue;
    AviRepairReport report = RepairAvi(file.filePath());
    if (report.outcome != AviRepairReport::Outcome::Sound) reports.push_back(std::move(report));
  }
  return reports;
}

}  // namespace gst

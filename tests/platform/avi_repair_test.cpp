// The repair of AVI files whose recording ended with the program, on files the video recorder
// wrote from the built-in test camera: a copy taken while it records is what a kill leaves
// (header sizes and counts unset, no index, the last frame possibly cut). The repaired file is
// checked by a reader of its own; malformed files are refused or cut where they stop being
// whole, and a file the repair refuses stays as it was.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <optional>

#include "platform/gst/avi_repair.h"
#include "platform/gst/camera_devices.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/video_recorder.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/avi_file.h"
#include "tests/support/camera_support.h"
#include "tests/support/test_support.h"
#include "tests/support/video_support.h"

namespace {

using Outcome = gst::AviRepairReport::Outcome;
using testing_support::FileBytes;
using testing_support::WaitFor;

std::uint32_t U32(const QByteArray& bytes, qsizetype at) {
  return at >= 0 && at + 4 <= bytes.size() ? qFromLittleEndian<quint32>(bytes.constData() + at) : 0;
}

void Put32(QByteArray& bytes, qsizetype at, std::uint32_t value) {
  qToLittleEndian<quint32>(value, bytes.data() + at);
}

bool Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// What this reader finds in a file: the header fields the end of a recording sets, the frame
// chunks of the movi list as their sizes chain them, and the index.
struct Parsed {
  qsizetype moviAt = -1;
  qsizetype avih = -1;  // data of each
  qsizetype strh = -1;
  qsizetype dmlh = -1;
  std::vector<qsizetype> frames;  // whole '00dc'/'00db' chunks, by position
  qsizetype indexAt = -1;
};

Parsed Parse(const QByteArray& bytes) {
  Parsed parsed;
  // The header holds no frame data, so its chunks are found by their codes.
  const qsizetype movi = bytes.indexOf("movi");
  if (movi < 8) return parsed;
  parsed.moviAt = movi - 8;
  const QByteArray header = bytes.left(movi);
  if (header.contains("avih")) parsed.avih = header.indexOf("avih") + 8;
  if (header.contains("strh")) parsed.strh = header.indexOf("strh") + 8;
  if (header.contains("dmlh")) parsed.dmlh = header.indexOf("dmlh") + 8;
  qsizetype at = movi + 4;
  while (at + 8 <= bytes.size()) {
    const QByteArray id = bytes.mid(at, 4);
    const qsizetype size = U32(bytes, at + 4);
    if (id == "idx1") {
      parsed.indexAt = at;
      break;
    }
    if (id != "00dc" && id != "00db") break;
    if (at + 8 + size > bytes.size()) break;
    parsed.frames.push_back(at);
    at += 8 + size + (size & 1);
  }
  return parsed;
}

// A repaired file as a player needs it: sizes that fit the file, one index entry for each
// frame pointing at it, and the header's counts.
void ExpectWhole(const QString& path, std::size_t frames) {
  SCOPED_TRACE(path.toStdString());
  const QByteArray bytes = FileBytes(path);
  const Parsed parsed = Parse(bytes);
  ASSERT_GE(parsed.moviAt, 0);
  ASSERT_EQ(parsed.frames.size(), frames);
  EXPECT_EQ(U32(bytes, 4), static_cast<std::uint32_t>(bytes.size() - 8));
  ASSERT_GE(parsed.indexAt, 0);
  EXPECT_EQ(parsed.moviAt + 8 + U32(bytes, parsed.moviAt + 4), parsed.indexAt);
  ASSERT_EQ(U32(bytes, parsed.indexAt + 4), 16 * frames);
  EXPECT_EQ(parsed.indexAt + 8 + 16 * static_cast<qsizetype>(frames), bytes.size());
  for (std::size_t k = 0; k < frames; ++k) {
    const qsizetype entry = parsed.indexAt + 8 + 16 * static_cast<qsizetype>(k);
    const qsizetype chunk = parsed.moviAt + 8 + U32(bytes, entry + 8);
    ASSERT_EQ(chunk, parsed.frames[k]) << "entry " << k;
    EXPECT_EQ(bytes.mid(entry, 4), bytes.mid(chunk, 4));
    EXPECT_EQ(U32(bytes, entry + 12), U32(bytes, chunk + 4));
    EXPECT_TRUE(U32(bytes, entry + 4) & 0x10);  // a key frame
  }
  EXPECT_EQ(U32(bytes, parsed.avih + 16), frames);   // dwTotalFrames
  EXPECT_TRUE(U32(bytes, parsed.avih + 12) & 0x10);  // AVIF_HASINDEX
  EXPECT_EQ(U32(bytes, parsed.strh + 32), frames);   // dwLength
  if (parsed.dmlh >= 0) {
    EXPECT_EQ(U32(bytes, parsed.dmlh), frames);
  }
  const testing_support::AviInfo avi = testing_support::ReadAvi(path);
  EXPECT_EQ(avi.idx1Entries, frames);
  EXPECT_EQ(avi.width, 640);
}

// A recording of the test camera, copied while it runs (as a kill leaves it) and finished.
class AviRepairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(files_.isValid());
    ASSERT_TRUE(folder_.isValid());
    testing_support::VirtualCameras cameras;
    const std::vector<gst::CameraDevice> list = gst::ListCameras();
    const gst::CameraDevice* camera = testing_support::FindCamera(list, gst::kTestCameraYuy2);
    ASSERT_TRUE(camera);
    const gst::CameraFormat* format = camera->Find(true, 640, 480);
    ASSERT_TRUE(format);
    gst::CameraPipeline pipeline;
    ASSERT_TRUE(pipeline.Open(*camera, format->AtDefaultRate()));
    gst::VideoRecorder recorder;
    gst::RecordingSettings settings;
    settings.path = files_.filePath(QStringLiteral("recording.avi"));
    settings.motionJpeg = true;  // frames of odd sizes, with pad bytes
    ASSERT_TRUE(recorder.Start(pipeline, settings));
    ASSERT_TRUE(WaitFor([&] { return recorder.FramesWritten() >= 40; }, 10000));
    const QString copy = files_.filePath(QStringLiteral("killed.avi"));
    ASSERT_TRUE(QFile::copy(settings.path, copy));
    recorder.Stop();
    ASSERT_TRUE(testing_support::WaitForFinishedFiles(recorder));
    recordedInterval_ = testing_support::ReadAvi(settings.path).microSecPerFrame;
    finished_ = FileBytes(settings.path);
    killed_ = FileBytes(copy);
    ASSERT_FALSE(killed_.isEmpty());
  }
  QString Place(const char* name, const QByteArray& bytes) {
    QString path = folder_.filePath(QString::fromLatin1(name));
    EXPECT_TRUE(Write(path, bytes));
    return path;
  }
  // The folder holds only the files the test put there: no repaired copy was left behind.
  void ExpectNoLeftovers(const QStringList& names) {
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), names);
  }

  QTemporaryDir files_;
  QTemporaryDir folder_;
  QByteArray finished_;
  QByteArray killed_;
  std::uint32_t recordedInterval_ = 0;
};

TEST_F(AviRepairTest, AKilledRecordingKeepsItsWholeFramesAndPlaysAfterTheRepair) {
  // The copy is what a kill leaves: no index, no count, sizes of the header alone.
  const Parsed killed = Parse(killed_);
  ASSERT_GE(killed.moviAt, 0);
  ASSERT_GE(killed.frames.size(), 10u);
  EXPECT_EQ(killed.indexAt, -1);
  EXPECT_EQ(U32(killed_, killed.avih + 16), 0u);
  EXPECT_EQ(U32(killed_, 4), static_cast<std::uint32_t>(killed.moviAt + 4));
  // Cut into its last frame, as the kill may.
  const qsizetype last = killed.frames.back();
  const QByteArray cut = killed_.left(last + 8 + U32(killed_, last + 4) / 2);
  const QString path = Place("cut.avi", cut);

  const gst::AviRepairReport report = gst::RepairAvi(path);
  EXPECT_EQ(report.outcome, Outcome::Repaired) << report.Text().toStdString();
  const std::size_t kept = killed.frames.size() - 1;
  EXPECT_EQ(report.framesKept, kept);
  EXPECT_EQ(report.bytesDropped, static_cast<std::uint64_t>(cut.size() - last));
  EXPECT_EQ(report.Text(), QStringLiteral("repaired %1: %2 frames kept, %3 bytes of an unfinished "
                                          "end dropped")
                               .arg(path)
                               .arg(kept)
                               .arg(cut.size() - last));
  ExpectWhole(path, kept);
  // The frames are the ones recorded, byte for byte.
  const QByteArray repaired = FileBytes(path);
  EXPECT_EQ(repaired.mid(killed.frames.front(), last - killed.frames.front()),
            cut.mid(killed.frames.front(), last - killed.frames.front()));
  // The frame interval and picture stay as recorded.
  EXPECT_EQ(testing_support::ReadAvi(path).microSecPerFrame, recordedInterval_);
  EXPECT_GT(recordedInterval_, 0u);

  // A sound file is left alone: the repaired one, and the one the recorder finished.
  const gst::AviRepairReport again = gst::RepairAvi(path);
  EXPECT_EQ(again.outcome, Outcome::Sound);
  EXPECT_EQ(FileBytes(path), repaired);
  const QString finished = Place("finished.avi", finished_);
  EXPECT_EQ(gst::RepairAvi(finished).outcome, Outcome::Sound);
  EXPECT_EQ(FileBytes(finished), finished_);
  ExpectNoLeftovers({QStringLiteral("cut.avi"), QStringLiteral("finished.avi")});
}

// A kill right after the header: no frame yet. And one whose last frame lacks only its pad.
TEST_F(AviRepairTest, AFileCutAtTheEndOfAChunkOrItsPadIsRepairedWhole) {
  const Parsed killed = Parse(killed_);
  ASSERT_GE(killed.frames.size(), 10u);
  const QString empty = Place("empty.avi", killed_.left(killed.moviAt + 12));
  EXPECT_EQ(gst::RepairAvi(empty).outcome, Outcome::Repaired);
  ExpectWhole(empty, 0);

  // The first frame of odd size, cut just before its pad byte.
  std::optional<std::size_t> odd;
  for (std::size_t k = 0; k < killed.frames.size() && !odd; ++k)
    if (U32(killed_, killed.frames[k] + 4) & 1) odd = k;
  ASSERT_TRUE(odd) << "the JPEG frames all had even sizes";
  const qsizetype at = killed.frames[*odd];
  const QString padless = Place("padless.avi", killed_.left(at + 8 + U32(killed_, at + 4)));
  const gst::AviRepairReport report = gst::RepairAvi(padless);
  EXPECT_EQ(report.outcome, Outcome::Repaired);
  EXPECT_EQ(report.bytesDropped, 0u);
  ExpectWhole(padless, *odd + 1);
}

TEST_F(AviRepairTest, MalformedFilesAreRefusedOrCutWhereTheyStopBeingWholeAndNeverLost) {
  const Parsed killed = Parse(killed_);
  ASSERT_GE(killed.frames.size(), 10u);
  // Refused, and left exactly as they were.
  QByteArray hugeHeader = killed_;
  Put32(hugeHeader, 16, 0x7FFFFFF0);  // the hdrl list's size
  QByteArray wave = killed_;
  wave.replace(8, 4, "WAVE");
  const std::vector<std::pair<const char*, QByteArray>> refused = {
      {"zero.avi", QByteArray()},
      {"text.avi", QByteArrayLiteral("not a video at all\n")},
      {"wave.avi", wave},
      {"short.avi", killed_.left(10)},
      {"header.avi", killed_.left(killed.avih + 20)},
      {"no-movi.avi", killed_.left(killed.moviAt)},
      {"huge-header.avi", hugeHeader},
  };
  QStringList names;
  for (const auto& [name, bytes] : refused) {
    SCOPED_TRACE(name);
    const QString path = Place(name, bytes);
    names << QString::fromLatin1(name);
    const gst::AviRepairReport report = gst::RepairAvi(path);
    EXPECT_EQ(report.outcome, Outcome::Failed);
    EXPECT_FALSE(report.reason.isEmpty());
    EXPECT_TRUE(report.Text().startsWith(QStringLiteral("cannot repair ") + path + ": "));
    EXPECT_EQ(FileBytes(path), bytes);
  }

  // A chunk garbled in the middle, or one whose size runs past the end: the frames before it
  // are kept, the rest dropped.
  constexpr std::size_t kGood = 5;
  const qsizetype at = killed.frames[kGood];
  QByteArray garbled = killed_;
  garbled.replace(at, 4, QByteArray("\x00\xff\x13\x37", 4));
  QByteArray overlong = killed_;
  Put32(overlong, at + 4, 0xFFFFFFF0);
  QByteArray stranger = killed_;
  stranger.replace(at, 4, "07dc");  // a stream the header does not have
  for (const auto& [name, bytes] : std::vector<std::pair<const char*, QByteArray>>{
           {"garbled.avi", garbled}, {"overlong.avi", overlong}, {"stranger.avi", stranger}}) {
    SCOPED_TRACE(name);
    const QString path = Place(name, bytes);
    names << QString::fromLatin1(name);
    const gst::AviRepairReport report = gst::RepairAvi(path);
    EXPECT_EQ(report.outcome, Outcome::Repaired) << report.Text().toStdString();
    EXPECT_EQ(report.framesKept, kGood);
    EXPECT_EQ(report.bytesDropped, static_cast<std::uint64_t>(bytes.size() - at));
    ExpectWhole(path, kGood);
    EXPECT_EQ(FileBytes(path).mid(killed.frames[0], at - killed.frames[0]),
              bytes.mid(killed.frames[0], at - killed.frames[0]));
  }
  names.sort();
  ExpectNoLeftovers(names);
}

void Append32(QByteArray& bytes, std::uint32_t value) {
  QByteArray field(4, '\0');
  Put32(field, 0, value);
  bytes.append(field);
}

// What the muxer leaves of a recording killed past 1 GB, made small of a recording's frames:
// the parts before the last were finished when the next began (each with its part index
// 'ix00', the first also with idx1) but the sizes were not set; the last part ('AVIX') has
// placeholder sizes, no index, and its last frame cut. `ends` are the frames that end each
// part but the last. Without `partIndexes` the parts lack their ix00.
QByteArray KilledPastOneGigabyte(const QByteArray& killed, const Parsed& parsed,
                                 const std::vector<std::size_t>& ends, bool partIndexes = true) {
  const std::vector<qsizetype>& frames = parsed.frames;
  QByteArray file = killed.left(frames[0]);
  std::size_t first = 0;
  qsizetype partAt = 0;
  for (std::size_t part = 0; part <= ends.size(); ++part) {
    if (part > 0) {
      partAt = file.size();
      file.append("RIFF", 4);
      Append32(file, 12);
      file.append("AVIXLIST", 8);
      Append32(file, 0);
      file.append("movi", 4);
    }
    const std::size_t end = part < ends.size() ? ends[part] : frames.size();
    const qsizetype from = frames[first];
    const qsizetype to =
        end < frames.size() ? frames[end] : frames.back() + 8 + U32(killed, frames.back() + 4) / 2;
    std::vector<qsizetype> placed;
    for (std::size_t k = first; k < end; ++k) placed.push_back(file.size() + frames[k] - from);
    file.append(killed.mid(from, to - from));
    if (part < ends.size()) {
      if (partIndexes) {
        file.append("ix00", 4);
        Append32(file, static_cast<std::uint32_t>(24 + 8 * placed.size()));
        file.append(QByteArray("\x02\x00\x00\x01", 4));
        Append32(file, static_cast<std::uint32_t>(placed.size()));
        file.append(killed.mid(frames[0], 4));
        Append32(file, static_cast<std::uint32_t>(partAt));
        Append32(file, 0);
        Append32(file, 0);
        for (const qsizetype at : placed) {
          Append32(file, static_cast<std::uint32_t>(at + 8 - partAt));
          Append32(file, U32(file, at + 4));
        }
      }
      if (part == 0) {
        file.append("idx1", 4);
        Append32(file, static_cast<std::uint32_t>(16 * placed.size()));
        for (const qsizetype at : placed) {
          file.append(killed.mid(frames[0], 4));
          Append32(file, 0x10);
          Append32(file, static_cast<std::uint32_t>(at - parsed.moviAt - 8));
          Append32(file, U32(file, at + 4));
        }
      }
    }
    first = end;
  }
  return file;
}

// A recording past 1 GB (OpenDML) goes on in further RIFF parts, each indexed by an 'ix00'
// that the header's 'indx' lists: the repair sets every part's sizes, indexes the last part
// and lists all of them, and the header's counts.
TEST_F(AviRepairTest, ARecordingKilledPastOneGigabyteGetsTheIndexOfItsParts) {
  const Parsed killed = Parse(killed_);
  ASSERT_GE(killed.frames.size(), 30u);
  const std::vector<std::size_t> ends = {10, 20};
  const QByteArray broken = KilledPastOneGigabyte(killed_, killed, ends);
  const QString path = Place("big.avi", broken);
  const gst::AviRepairReport report = gst::RepairAvi(path);
  ASSERT_EQ(report.outcome, Outcome::Repaired) << report.Text().toStdString();
  const std::size_t kept = killed.frames.size() - 1;  // the last one was cut
  EXPECT_EQ(report.framesKept, kept);

  const QByteArray bytes = FileBytes(path);
  // The parts chain to the end of the file, each movi list up to its part's end.
  std::vector<qsizetype> parts = {0};
  for (qsizetype at = 0; at < bytes.size();) {
    ASSERT_EQ(bytes.mid(at, 4), "RIFF");
    at += 8 + U32(bytes, at + 4);
    if (at < bytes.size()) parts.push_back(at);
    ASSERT_LE(at, bytes.size());
  }
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(bytes.mid(parts[1] + 8, 4), "AVIX");
  EXPECT_EQ(bytes.mid(killed.moviAt + 8 + U32(bytes, killed.moviAt + 4), 4), "idx1");
  for (const qsizetype part : {parts[1], parts[2]})
    EXPECT_EQ(U32(bytes, part + 16) + 12, U32(bytes, part + 4));  // the movi list fills it
  // The header's index of part indexes, and through it every frame, byte for byte.
  const qsizetype master = bytes.indexOf("indx");
  ASSERT_GT(master, 0);
  ASSERT_LT(master, killed.moviAt);
  ASSERT_EQ(U32(bytes, master + 12), 3u);  // nEntriesInUse
  std::size_t frame = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    const qsizetype entry = master + 32 + 16 * static_cast<qsizetype>(k);
    const qsizetype index = qFromLittleEndian<qint64>(bytes.constData() + entry);
    EXPECT_EQ(bytes.mid(index, 4), "ix00");
    EXPECT_EQ(U32(bytes, entry + 8), U32(bytes, index + 4) + 8);
    const std::uint32_t entries = U32(bytes, index + 12);
    EXPECT_EQ(U32(bytes, entry + 12), entries);
    EXPECT_EQ(entries, k < 2 ? 10u : kept - 20);
    const qsizetype base = qFromLittleEndian<qint64>(bytes.constData() + index + 20);
    EXPECT_EQ(base, parts[k]);
    for (std::uint32_t e = 0; e < entries; ++e, ++frame) {
      const qsizetype data = base + U32(bytes, index + 32 + 8 * e);
      const std::uint32_t size = U32(bytes, index + 36 + 8 * e);
      EXPECT_EQ(bytes.mid(data, size), killed_.mid(killed.frames[frame] + 8, size))
          << "frame " << frame;
    }
  }
  EXPECT_EQ(frame, kept);
  EXPECT_EQ(U32(bytes, killed.avih + 16), 10u);  // the first part's frames
  EXPECT_EQ(U32(bytes, killed.dmlh), kept);
  EXPECT_EQ(U32(bytes, killed.strh + 32), kept);
  EXPECT_EQ(gst::RepairAvi(path).outcome, Outcome::Sound);

  // Parts that lack their index cannot be listed: refused, and left as they were.
  const QByteArray unindexed = KilledPastOneGigabyte(killed_, killed, ends, false);
  const QString lacking = Place("unindexed.avi", unindexed);
  EXPECT_EQ(gst::RepairAvi(lacking).outcome, Outcome::Failed);
  EXPECT_EQ(FileBytes(lacking), unindexed);
}

// The start-up's scan of the Video folder: files another instance may still be recording
// (written to lately) are left alone; the others are repaired or reported, in name order.
TEST_F(AviRepairTest, TheFolderScanRepairsWhatNeedsItAndSkipsFilesWrittenLately) {
  const QString killed = Place("2026_01_02_10_00_00.avi", killed_);
  const QString finished = Place("2026_01_02_11_00_00.avi", finished_);
  const QString broken = Place("2026_01_02_12_00_00.avi", QByteArrayLiteral("RIFF"));
  const QString other = Place("notes.txt", killed_);
  // The copy of a repair cut short by a kill.
  const QString leftover = Place(".2026_01_02_10_00_00.avi.a1B2c3.repairing", killed_);

  EXPECT_TRUE(gst::RepairAviFolder(folder_.path(), std::chrono::hours(1)).empty());
  EXPECT_EQ(FileBytes(killed), killed_);
  EXPECT_TRUE(QFile::exists(leftover));

  const std::vector<gst::AviRepairReport> reports =
      gst::RepairAviFolder(folder_.path(), std::chrono::seconds(0));
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].path, killed);
  EXPECT_EQ(reports[0].outcome, Outcome::Repaired);
  EXPECT_EQ(reports[1].path, broken);
  EXPECT_EQ(reports[1].outcome, Outcome::Failed);
  ExpectWhole(killed, reports[0].framesKept);
  EXPECT_GE(reports[0].framesKept, 10u);
  EXPECT_EQ(FileBytes(finished), finished_);
  EXPECT_EQ(FileBytes(other), killed_);
  EXPECT_FALSE(QFile::exists(leftover));
}

}  // namespace

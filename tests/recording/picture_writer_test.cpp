// The writer of a run's pictures on its own thread, with synthetic frames and no window: order,
// complete files, the first failure and what follows it, the queue's limit, snapshots among
// pictures, and a stop while pictures still wait.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/forms/runtime_error.h"
#include "platform/gst/gst_util.h"
#include "recording/picture_recorder.h"
#include "recording/picture_writer.h"
#include "tests/support/camera_support.h"
#include "tests/support/small_disk.h"
#include "tests/support/test_support.h"

namespace {

using recording::PictureJob;
using recording::PictureWriter;
using recording::WriterReport;
using Kind = WriterReport::Kind;

constexpr std::int64_t kMs = 1'000'000;

QImage Pattern(int seed) {
  QImage image(640, 480, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      image.setPixel(x, y, qRgb((x + seed * 40) & 255, (y * 3 + seed) & 255, (x ^ y) & 255));
  return image;
}

// The reports as the writer's thread gives them.
class Reports {
 public:
  std::function<void(WriterReport)> Sink() {
    return [this](WriterReport report) {
      std::lock_guard lock(mutex_);
      reports_.push_back(std::move(report));
    };
  }
  std::vector<WriterReport> Taken() {
    std::lock_guard lock(mutex_);
    return reports_;
  }

 private:
  std::mutex mutex_;
  std::vector<WriterReport> reports_;
};

// A picture whose frame is answered at once (or left to `request`).
PictureJob Job(const QString& folder, int number,
               std::shared_ptr<gst::FrameRequest> request = nullptr) {
  const std::int64_t now = gst::SteadyNowNs();
  if (!request) {
    request = std::make_shared<gst::FrameRequest>(now);
    request->Offer(testing_support::SyntheticFrame(Pattern(number), number, now));
  }
  PictureJob job;
  job.path = QDir(folder).filePath(QStringLiteral("%1.bmp").arg(number));
  job.runFolder = folder;
  job.frame = std::move(request);
  job.frameDeadlineNs = now + 5000 * kMs;
  job.frameBytes = 640 * 480 * 4;
  job.timing.timer = true;
  job.timing.dueLocalNs = now;
  job.stamp = QImage(200, 50, QImage::Format_RGB32);
  job.stamp.fill(Qt::white);
  job.layout = {recording::Backend::FilterGraph, recording::PictureFormat::Bmp, QSize(636, 476),
                Qt::white};
  job.row.picture = number;
  job.row.file = QFileInfo(job.path).fileName();
  job.row.timeBase = QStringLiteral("timer");
  job.queuedNs = now;
  return job;
}

// The log's rows (without its header), each as its fields.
// The log's `error` column: its columns after it came later.
constexpr int kError = 12;

std::vector<QStringList> Rows(const QString& folder) {
  QFile file(QDir(folder).filePath(QStringLiteral("log.csv")));
  std::vector<QStringList> rows;
  if (!file.open(QIODevice::ReadOnly)) return rows;
  const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
  for (qsizetype i = 1; i < lines.size(); ++i)
    rows.push_back(testing_support::SplitCsvLine(QString::fromUtf8(lines[i])));
  return rows;
}

QStringList Entries(const QString& folder) {
  // Hidden names too: a temporary file left behind would be one.
  return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QJsonObject ReadRecord(const QString& folder) {
  QFile file(QDir(folder).filePath(QStringLiteral("run.json")));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(file.readAll()).object();
}

// Where log.csv keeps the frame's file name.
qsizetype FrameFileColumn() {
  return recording::RunLog::kHeader.trimmed()
      .split(QLatin1Char(','))
      .indexOf(QStringLiteral("frame_file"));
}

TEST(PictureWriter, WritesCompletePicturesInOrderWithTheirRows) {
  QTemporaryDir folder;
  Reports reports;
  {
    PictureWriter writer(reports.Sink());
    writer.BeginRun(folder.path(), std::nullopt);
    for (int n = 1; n <= 3; ++n) ASSERT_FALSE(writer.Submit(Job(folder.path(), n)));
    writer.FinishRun();
    writer.WaitUntilIdle();
    EXPECT_EQ(writer.Rows(), 3);
    ASSERT_TRUE(writer.LastRow());
    EXPECT_EQ(writer.LastRow()->picture, 3);
  }
  EXPECT_EQ(Entries(folder.path()), (QStringList{"1.bmp", "2.bmp", "3.bmp", "log.csv"}));
  const std::vector<WriterReport> taken = reports.Taken();
  ASSERT_EQ(taken.size(), 4u);
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    const WriterReport& report = taken[static_cast<size_t>(n - 1)];
    EXPECT_EQ(report.kind, Kind::Picture);
    EXPECT_EQ(report.number, n);
    EXPECT_FALSE(report.failure);
    // The file holds its own frame; the newest picture named is the one shown.
    const QImage saved(QDir(folder.path()).filePath(QStringLiteral("%1.bmp").arg(n)));
    if (n == 3) {
      EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB888),
                report.image.convertToFormat(QImage::Format_RGB888));
    }
    EXPECT_EQ(saved.pixel(635, 475), Pattern(n).pixel(639, 479));
  }
  EXPECT_EQ(taken[3].kind, Kind::RunFinished);
  const std::vector<QStringList> rows = Rows(folder.path());
  ASSERT_EQ(rows.size(), 3u);
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(rows[static_cast<size_t>(n - 1)][0], QString::number(n));
    EXPECT_EQ(rows[static_cast<size_t>(n - 1)][kError], QString());  // no error
  }
}

// A disk that fills up at the fifth picture: that picture fails once and leaves nothing, the
// ones after it are not written although there is room again, and every row says what became
// of its picture.
TEST(PictureWriter, AFullDiskFailsOnePictureAndNothingAfterItIsWritten) {
  QTemporaryDir base;
  const QString folder = base.filePath(QStringLiteral("run"));
  testing_support::SmallDisk disk(folder, 4);  // four pictures of 900 KB and the log
  if (!disk.Mounted()) GTEST_SKIP() << "no small file system to fill: " << disk.Why().toStdString();
  Reports reports;
  {
    PictureWriter writer(reports.Sink());
    writer.BeginRun(folder, std::nullopt);
    for (int n = 1; n <= 8; ++n) ASSERT_FALSE(writer.Submit(Job(folder, n)));
    writer.FinishRun();
  }
  EXPECT_EQ(Entries(folder), (QStringList{"1.bmp", "2.bmp", "3.bmp", "4.bmp", "log.csv"}));
  for (int n = 1; n <= 4; ++n)
    EXPECT_FALSE(QImage(QDir(folder).filePath(QStringLiteral("%1.bmp").arg(n))).isNull()) << n;
  int failures = 0;
  for (const WriterReport& report : reports.Taken()) {
    if (!report.failure) continue;
    ++failures;
    EXPECT_EQ(report.number, 5);
  }
  EXPECT_EQ(failures, 1);
  const std::vector<QStringList> rows = Rows(folder);
  ASSERT_EQ(rows.size(), 8u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(rows[i][kError], QString()) << i;
  EXPECT_TRUE(rows[4][kError].contains(QStringLiteral("5.bmp"))) << rows[4][kError].toStdString();
  EXPECT_TRUE(rows[4][kError].contains(qt_error_string(ENOSPC))) << rows[4][kError].toStdString();
  for (size_t i = 5; i < 8; ++i)
    EXPECT_EQ(rows[i][kError],
              QStringLiteral("not written: picture 5 of the run could not be written"));
}

// Pictures the disk does not take in time pile up only to about two seconds' worth, and never
// past the memory limit: the next one is refused with the reason.
TEST(PictureWriter, TheQueueRefusesPicturesPastTwoSecondsOrItsMemory) {
  QTemporaryDir folder;
  Reports reports;
  PictureWriter writer(reports.Sink());
  writer.BeginRun(folder.path(), std::nullopt);
  // The first picture's frame does not come: the writer waits for it, as for a slow disk.
  auto stalled = std::make_shared<gst::FrameRequest>(gst::SteadyNowNs() + 60'000 * kMs);
  PictureJob first = Job(folder.path(), 1, stalled);
  ASSERT_FALSE(writer.Submit(std::move(first)));
  PictureJob second = Job(folder.path(), 2);
  const std::int64_t start = second.queuedNs;
  ASSERT_FALSE(writer.Submit(std::move(second)));
  PictureJob withinTwo = Job(folder.path(), 3);
  withinTwo.queuedNs = start + 1900 * kMs;
  EXPECT_FALSE(writer.Submit(std::move(withinTwo)));
  PictureJob late = Job(folder.path(), 4);
  late.queuedNs = start + 2100 * kMs;
  const std::optional<QString> refused = writer.Submit(std::move(late));
  ASSERT_TRUE(refused);
  EXPECT_TRUE(refused->contains(QStringLiteral("more than 2 s"))) << refused->toStdString();
  PictureJob huge = Job(folder.path(), 5);
  huge.frameBytes = PictureWriter::kQueueBytes;
  const std::optional<QString> tooLarge = writer.Submit(std::move(huge));
  ASSERT_TRUE(tooLarge);
  EXPECT_TRUE(tooLarge->contains(QStringLiteral("256 MB"))) << tooLarge->toStdString();
  stalled->Close();  // no frame at all: that picture fails, and the queued ones with it
  writer.WaitUntilIdle();
  EXPECT_EQ(Entries(folder.path()), QStringList{"log.csv"});
  EXPECT_EQ(writer.Rows(), 3);
}

// A snapshot taken while pictures wait for their frames is written after them.
TEST(PictureWriter, ASnapshotIsWrittenInOrderWithThePictures) {
  QTemporaryDir folder;
  Reports reports;
  PictureWriter writer(reports.Sink());
  writer.BeginRun(folder.path(), std::nullopt);
  std::vector<std::shared_ptr<gst::FrameRequest>> requests;
  for (int n = 1; n <= 2; ++n) {
    requests.push_back(std::make_shared<gst::FrameRequest>(gst::SteadyNowNs() + 100 * kMs));
    ASSERT_FALSE(writer.Submit(Job(folder.path(), n, requests.back())));
  }
  const QString snapshot = folder.filePath(QStringLiteral("snapshot.jpg"));
  writer.SubmitSnapshot(snapshot, Pattern(9), recording::PictureFormat::Jpeg);
  std::thread camera([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    for (std::size_t i = 0; i < requests.size(); ++i)
      requests[i]->Offer(testing_support::SyntheticFrame(Pattern(static_cast<int>(i + 1)), i + 1,
                                                         requests[i]->InstantNs()));
  });
  writer.WaitUntilIdle();
  camera.join();
  const std::vector<WriterReport> taken = reports.Taken();
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0].number, 1);
  EXPECT_EQ(taken[1].number, 2);
  EXPECT_EQ(taken[2].kind, Kind::Snapshot);
  EXPECT_FALSE(taken[2].failure);
  EXPECT_EQ(QImage(snapshot).size(), QSize(640, 480));

  // A snapshot that cannot be written is reported, and fails nothing of the run.
  writer.SubmitSnapshot(folder.filePath(QStringLiteral("gone/snapshot.bmp")), Pattern(1),
                        recording::PictureFormat::Bmp);
  ASSERT_FALSE(writer.Submit(Job(folder.path(), 3)));
  writer.WaitUntilIdle();
  const std::vector<WriterReport> after = reports.Taken();
  ASSERT_EQ(after.size(), 5u);
  EXPECT_EQ(after[3].kind, Kind::Snapshot);
  EXPECT_TRUE(after[3].failure);
  EXPECT_EQ(after[4].number, 3);
  EXPECT_FALSE(after[4].failure);
}

// The run stops, and the program ends, while pictures still wait for their frames: each is
// written whole once its frame comes, the log has every row, and nothing temporary stays.
TEST(PictureWriter, AStopWhilePicturesWaitWritesThemAllBeforeTheEnd) {
  QTemporaryDir folder;
  Reports reports;
  std::vector<std::shared_ptr<gst::FrameRequest>> requests;
  std::thread camera;
  {
    PictureWriter writer(reports.Sink());
    writer.BeginRun(folder.path(), std::nullopt);
    for (int n = 1; n <= 5; ++n) {
      requests.push_back(std::make_shared<gst::FrameRequest>(gst::SteadyNowNs() + 200 * kMs));
      ASSERT_FALSE(writer.Submit(Job(folder.path(), n, requests.back())));
    }
    writer.FinishRun();
    // The frames come late, each taken at its picture's instant.
    camera = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      for (std::size_t i = 0; i < requests.size(); ++i)
        requests[i]->Offer(testing_support::SyntheticFrame(Pattern(static_cast<int>(i)), i + 1,
                                                           requests[i]->InstantNs()));
    });
  }  // the end of the program: the writer's thread finishes its queue first
  camera.join();
  EXPECT_EQ(Entries(folder.path()),
            (QStringList{"1.bmp", "2.bmp", "3.bmp", "4.bmp", "5.bmp", "log.csv"}));
  EXPECT_EQ(Rows(folder.path()).size(), 5u);
  const std::vector<WriterReport> taken = reports.Taken();
  ASSERT_FALSE(taken.empty());
  EXPECT_EQ(taken.back().kind, Kind::RunFinished);
}

}  // namespace

namespace {

// A frame captured further than two frame intervals (and 100 ms) from the picture's instant
// shows another moment: the picture fails as for a camera that gives no frame (68), says so in
// its row, and nothing after it is written; one within that reach is the picture.
TEST(PictureWriter, AFrameOfAnotherMomentIsNotSavedAsThePicture) {
  QTemporaryDir folder;
  Reports reports;
  PictureWriter writer(reports.Sink());
  writer.BeginRun(folder.path(), std::nullopt);
  auto jobWithFrameOff = [&](int number, std::int64_t offNs, std::int64_t intervalNs) {
    const std::int64_t instant = gst::SteadyNowNs();
    auto request = std::make_shared<gst::FrameRequest>(instant);
    request->Offer(testing_support::SyntheticFrame(Pattern(number), number, instant + offNs));
    PictureJob job = Job(folder.path(), number, request);
    job.frameIntervalNs = intervalNs;
    return job;
  };
  ASSERT_FALSE(writer.Submit(jobWithFrameOff(1, 90 * kMs, 0)));
  ASSERT_FALSE(writer.Submit(jobWithFrameOff(2, 390 * kMs, 200 * kMs)));  // a 5 fps camera
  ASSERT_FALSE(writer.Submit(jobWithFrameOff(3, 210 * kMs, 100 * kMs)));
  ASSERT_FALSE(writer.Submit(jobWithFrameOff(4, 0, 0)));
  writer.WaitUntilIdle();
  EXPECT_EQ(Entries(folder.path()), (QStringList{"1.bmp", "2.bmp", "log.csv"}));
  const std::vector<QStringList> rows = Rows(folder.path());
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_TRUE(rows[2][kError].startsWith(QStringLiteral("Device unavailable: ")))
      << rows[2][kError].toStdString();
  EXPECT_EQ(rows[3][kError],
            QStringLiteral("not written: picture 3 of the run could not be written"));
  int failures = 0;
  for (const WriterReport& report : reports.Taken()) {
    if (!report.failure) continue;
    ++failures;
    EXPECT_EQ(report.number, 3);
    EXPECT_EQ(report.cameraError, QStringLiteral("нет кадра ближе 210 мс к моменту снимка"));
    try {
      std::rethrow_exception(report.failure);
    } catch (const forms::RuntimeError& error) {
      EXPECT_EQ(error.Number(), forms::kDeviceUnavailable);
    }
  }
  EXPECT_EQ(failures, 1);
}

// Each picture's frame stops counting against the queue's memory once it is done: a long run of
// large frames is never refused for memory it no longer holds.
TEST(PictureWriter, AWrittenPictureGivesBackItsShareOfTheQueuesMemory) {
  QTemporaryDir folder;
  Reports reports;
  PictureWriter writer(reports.Sink());
  writer.BeginRun(folder.path(), std::nullopt);
  for (int n = 1; n <= 6; ++n) {
    PictureJob job = Job(folder.path(), n);
    job.frameBytes = PictureWriter::kQueueBytes / 3;
    ASSERT_FALSE(writer.Submit(std::move(job))) << n;
    writer.WaitUntilIdle();
  }
  EXPECT_EQ(writer.Rows(), 6);
}

// A killed program leaves hidden temporary files beside its pictures: the next run in that
// folder, or the next start, removes them; a living process's own stay.
TEST(PictureWriter, TemporaryFilesOfAKilledWriterAreRemoved) {
  QTemporaryDir root;
  const QDir top(root.path());
  ASSERT_TRUE(top.mkpath(QStringLiteral("Risunki/old")));
  ASSERT_TRUE(top.mkpath(QStringLiteral("run")));
  // A process that has ended: a child that exited.
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ASSERT_GT(dead, 0);
  ::waitpid(dead, nullptr, 0);
  auto touch = [](const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x", 1) == 1;
  };
  const QString stale = QStringLiteral(".3.bmp.part%1-7").arg(dead);
  const QString ours = QStringLiteral(".4.bmp.part%1-8").arg(::getpid());
  for (const char* folder : {"Risunki/old", "run"}) {
    ASSERT_TRUE(touch(top.filePath(QString::fromLatin1(folder) + QLatin1Char('/') + stale)));
    ASSERT_TRUE(touch(top.filePath(QString::fromLatin1(folder) + QLatin1Char('/') + ours)));
    ASSERT_TRUE(touch(top.filePath(QString::fromLatin1(folder) + "/.notes.part")));
  }
  Reports reports;
  PictureWriter writer(reports.Sink());
  writer.RemoveStaleFiles({top.filePath(QStringLiteral("Risunki"))});
  writer.BeginRun(top.filePath(QStringLiteral("run")), std::nullopt);
  writer.WaitUntilIdle();
  EXPECT_EQ(Entries(top.filePath(QStringLiteral("Risunki/old"))),
            (QStringList{ours, QStringLiteral(".notes.part")}));
  EXPECT_EQ(Entries(top.filePath(QStringLiteral("run"))),
            (QStringList{ours, QStringLiteral(".notes.part"), QStringLiteral("log.csv")}));
}

// A run that fails as it is committed, just before the next run begins, fails under its own
// number; the next run writes every picture. A snapshot's failure fails no run.
TEST(PictureWriter, AFailureAtARunsLastCommitFailsThatRunAndNotTheNext) {
  QTemporaryDir base;
  const QString first = base.filePath(QStringLiteral("first"));
  const QString next = base.filePath(QStringLiteral("next"));
  ASSERT_TRUE(QDir().mkpath(first) && QDir().mkpath(next));
  Reports reports;
  PictureWriter writer(reports.Sink());
  auto ofRun = [](PictureJob job, std::uint64_t run) {
    job.run = run;
    return job;
  };
  writer.BeginRun(first, std::nullopt, 1);
  ASSERT_FALSE(writer.Submit(ofRun(Job(first, 1), 1)));
  // The writer waits for picture 2's frame with picture 1 written but not yet named.
  auto held = std::make_shared<gst::FrameRequest>(gst::SteadyNowNs());
  ASSERT_FALSE(writer.Submit(ofRun(Job(first, 2, held), 1)));
  ASSERT_TRUE(testing_support::WaitFor(
      [&] {
        return !QDir(first)
                    .entryList({QStringLiteral(".1.bmp.part*")}, QDir::Files | QDir::Hidden)
                    .isEmpty();
      },
      5000));
  if (QFile::exists(QDir(first).filePath(QStringLiteral("1.bmp"))))
    GTEST_SKIP() << "the writer named picture 1 before the folder could be taken away";
  ASSERT_TRUE(QDir().rename(first, base.filePath(QStringLiteral("gone"))));
  held->Offer(testing_support::SyntheticFrame(Pattern(2), 2, held->InstantNs()));
  writer.SubmitSnapshot(next + QStringLiteral("/missing/snapshot.bmp"), Pattern(1),
                        recording::PictureFormat::Bmp);
  writer.BeginRun(next, std::nullopt, 2);
  for (int n = 1; n <= 3; ++n) ASSERT_FALSE(writer.Submit(ofRun(Job(next, n), 2)));
  writer.WaitUntilIdle();
  EXPECT_EQ(Entries(next), (QStringList{"1.bmp", "2.bmp", "3.bmp", "log.csv"}));
  int firstRunFailures = 0;
  for (const WriterReport& report : reports.Taken()) {
    if (report.kind == Kind::Picture && report.failure) {
      ++firstRunFailures;
      EXPECT_EQ(report.run, 1u);
    }
    if (report.kind == Kind::Picture && report.run == 2) {
      EXPECT_FALSE(report.failure) << report.number;
      // A picture is reported once it is under its name.
      EXPECT_TRUE(QFile::exists(report.path)) << report.path.toStdString();
    }
    if (report.kind == Kind::Snapshot) {
      EXPECT_TRUE(report.failure);
    }
  }
  EXPECT_GE(firstRunFailures, 1);
}

// What the run's end cannot write fails the run (a scripted run's status tells it): here no
// row reaches the log.
TEST(PictureWriter, ALogThatCannotBeWrittenFailsTheRunAtItsEnd) {
  QTemporaryDir folder;
  ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("log.csv")));
  Reports reports;
  PictureWriter writer(reports.Sink());
  writer.BeginRun(folder.path(), std::nullopt, 1, recording::RunRecord{});
  for (int n = 1; n <= 2; ++n) ASSERT_FALSE(writer.Submit(Job(folder.path(), n)));
  writer.FinishRun(recording::RunRecord{});
  writer.WaitUntilIdle();
  const std::vector<WriterReport> taken = reports.Taken();
  ASSERT_FALSE(taken.empty());
  EXPECT_EQ(taken.back().kind, Kind::RunFinished);
  ASSERT_TRUE(taken.back().failure);
  EXPECT_TRUE(recording::FailureText(taken.back().failure)
                  .contains(QStringLiteral("2 pictures have no row in the log")));
  // The record says the same: an operator's stop that ended in a failure.
  const QJsonObject end = ReadRecord(folder.path())[QStringLiteral("end")].toObject();
  EXPECT_EQ(end[QStringLiteral("how")].toString(), QStringLiteral("failure"));
  EXPECT_EQ(end[QStringLiteral("failure")].toString(),
            QStringLiteral("2 pictures have no row in the log"));
}

// The camera's own frames go beside their pictures, lossless at the frame's size (grey when
// asked), named in the rows; run.json is whole from the start and completed at the end.
TEST(PictureWriter, FramesBesideThePicturesAndTheRunsRecordFromStartToEnd) {
  QTemporaryDir folder;
  Reports reports;
  PictureWriter writer(reports.Sink());
  recording::RunRecord record;
  record.run = 1;
  record.toneHz = 5;
  record.settings.every = 2;
  writer.BeginRun(folder.path(), 5.0, 1, record);
  writer.WaitUntilIdle();
  QJsonObject start = ReadRecord(folder.path());
  EXPECT_EQ(start[QStringLiteral("settings")][QStringLiteral("every_periods")].toInt(), 2);
  EXPECT_TRUE(start[QStringLiteral("end")].isNull());
  EXPECT_TRUE(start[QStringLiteral("t0")].isNull());

  const recording::FrameFiles kinds[] = {recording::FrameFiles::Rgb, recording::FrameFiles::Grey};
  for (int n = 1; n <= 2; ++n) {
    PictureJob job = Job(folder.path(), n);
    job.frames = kinds[n - 1];
    job.framePath = QDir(folder.path()).filePath(QStringLiteral("%1.frame.png").arg(n));
    job.row.frameFile = QFileInfo(job.framePath).fileName();
    ASSERT_FALSE(writer.Submit(std::move(job)));
  }
  record.t0 = QDateTime::currentDateTime();
  writer.UpdateRecord(record);
  record.end = recording::RunRecord::End{
      .how = QStringLiteral("time up"), .failure = {}, .at = QDateTime::currentDateTime()};
  writer.FinishRun(record);
  writer.WaitUntilIdle();

  EXPECT_EQ(Entries(folder.path()),
            (QStringList{"1.bmp", "1.frame.png", "2.bmp", "2.frame.png", "log.csv", "run.json"}));
  const QImage rgb(QDir(folder.path()).filePath(QStringLiteral("1.frame.png")));
  EXPECT_EQ(rgb.convertToFormat(QImage::Format_RGB32), Pattern(1));
  const QImage grey(QDir(folder.path()).filePath(QStringLiteral("2.frame.png")));
  EXPECT_EQ(grey.format(), QImage::Format_Grayscale8);
  EXPECT_EQ(grey, Pattern(2).convertToFormat(QImage::Format_Grayscale8));
  const std::vector<QStringList> rows = Rows(folder.path());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].value(FrameFileColumn()), QStringLiteral("1.frame.png"));
  EXPECT_EQ(rows[1].value(FrameFileColumn()), QStringLiteral("2.frame.png"));

  const QJsonObject end = ReadRecord(folder.path());
  EXPECT_FALSE(end[QStringLiteral("t0")].isNull());
  EXPECT_EQ(end[QStringLiteral("end")][QStringLiteral("how")].toString(),
            QStringLiteral("time up"));
  EXPECT_EQ(end[QStringLiteral("pictures")][QStringLiteral("written")].toInt(), 2);
  EXPECT_EQ(end[QStringLiteral("pictures")][QStringLiteral("not_written")].toInt(), 0);
}

// A frame that cannot be written fails the run as a picture would, naming the frame's file; its
// picture, written already, keeps its name, and the row keeps no frame it does not have.
TEST(PictureWriter, AFrameThatCannotBeWrittenFailsTheRunAndNamesTheFrame) {
  QTemporaryDir folder;
  Reports reports;
  PictureWriter writer(reports.Sink());
  writer.BeginRun(folder.path(), std::nullopt, 1);
  for (int n = 1; n <= 2; ++n) {
    PictureJob job = Job(folder.path(), n);
    job.run = 1;
    job.frames = recording::FrameFiles::Rgb;
    job.framePath = QDir(folder.path()).filePath(QStringLiteral("gone/%1.frame.png").arg(n));
    job.row.frameFile = QStringLiteral("%1.frame.png").arg(n);
    ASSERT_FALSE(writer.Submit(std::move(job)));
  }
  writer.FinishRun();
  writer.WaitUntilIdle();
  EXPECT_EQ(Entries(folder.path()), (QStringList{"1.bmp", "log.csv"}));
  int failures = 0;
  for (const WriterReport& report : reports.Taken()) {
    if (report.kind != Kind::Picture || !report.failure) continue;
    ++failures;
    EXPECT_TRUE(recording::FailureText(report.failure).contains(QStringLiteral("gone/1.frame.png")))
        << recording::FailureText(report.failure).toStdString();
  }
  EXPECT_EQ(failures, 1);
  const std::vector<QStringList> rows = Rows(folder.path());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][1], QStringLiteral("1.bmp"));
  EXPECT_EQ(rows[0].value(FrameFileColumn()), QString());
  EXPECT_TRUE(rows[0][kError].contains(QStringLiteral("1.frame.png")));
  EXPECT_EQ(rows[1][kError],
            QStringLiteral("not written: picture 1 of the run could not be written"));
}

// The time source and the steady clock are read as one moment even when a read is held up.
TEST(PictureClocks, ATimeSourceHeldUpOnceIsReadAgainTogetherWithTheSteadyClock) {
  class SlowOnce : public forms::TimeSource {
   public:
    QDateTime Now() override { return QDateTime::currentDateTime(); }
    void SleepUntil(std::int64_t) override {}
    std::int64_t Nanoseconds() override {
      const std::int64_t now = gst::SteadyNowNs() + 7'000'000'000;
      // The reading thread is held up just after its read, once.
      if (calls_++ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(30));
      return now;
    }

   private:
    int calls_ = 0;
  } time;
  const recording::ClockPair pair = recording::ReadClocks(time);
  EXPECT_NEAR(static_cast<double>(pair.localNs - pair.steadyNs), 7e9, 1e6);
}

}  // namespace

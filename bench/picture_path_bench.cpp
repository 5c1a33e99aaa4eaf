// A run of 30 recording instants a second (tone 30/2 Hz, NC0 = 1) on the test cameras, for
// each back end and format and each camera size: how late the instants come beside the same
// clock without recording, how long the window takes to answer input while it records, the
// share of pictures that hold the frame nearest their instant, and the CPU a picture costs
// beside a bare frame copy + stretch + tjCompress2 + write.
//   Usage: bench_picture_path [seconds] [WIDTHxHEIGHT ...] [capture|graph]   (default 60 s;
//   640x480 1280x720 1920x1080; both back ends)

#include <turbojpeg.h>
#include <unistd.h>

#include <ctime>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "app/app_style.h"
#include "app/main_window.h"
#include "bench/bench_support.h"
#include "platform/capture/capture_window.h"
#include "platform/forms/message_box.h"
#include "platform/gst/virtual_devices.h"
#include "recording/output_files.h"

namespace {

struct Case {
  const char* name;
  bool graph;
  bool jpeg;
};

// Posted from another thread every few milliseconds; the window's thread notes how long each
// waited, as it would for a click.
class InputProbe : public QObject {
 public:
  static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 77);
  struct Posted : QEvent {
    explicit Posted(double at) : QEvent(kType), atMs(at) {}
    double atMs;
  };
  void Start() {
    running_ = true;
    thread_ = std::thread([this] {
      while (running_) {
        QCoreApplication::postEvent(this, new Posted(bench::NowMs()));
        std::this_thread::sleep_for(std::chrono::milliseconds(7));
      }
    });
  }
  void Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    QCoreApplication::removePostedEvents(this, kType);
  }
  bool event(QEvent* e) override {
    if (e->type() != kType) return QObject::event(e);
    waitedMs.push_back(bench::NowMs() - static_cast<Posted*>(e)->atMs);
    return true;
  }
  std::vector<double> waitedMs;

 private:
  std::atomic<bool> running_{false};
  std::thread thread_;
};

// CPU seconds of the process's threads of that name (from /proc), 0 when there is none.
double ThreadCpuSeconds(const QByteArray& name) {
  double seconds = 0;
  const long ticks = sysconf(_SC_CLK_TCK);
  for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs)) {
    QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
    if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name) continue;
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(task));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    const QByteArray line = stat.readAll();
    // Fields after the command's closing parenthesis: utime and stime are the 12th and 13th.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    seconds += (fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks;
  }
  return seconds;
}

double ThisThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct RunFigures {
  std::vector<double> lateMs;
  std::vector<double> inputMs;
  double recordingCpuSeconds = 0;  // the window's part of the recording and the writer's
  double windowCpuSeconds = 0;     // of it, the window's
  int pictures = 0;
};

// One clock run of `seconds`; with `record` the recorder takes its pictures, without it only
// the instants are noted.
RunFigures ClockRun(app::Form1& form, bool record, int seconds) {
  RunFigures figures;
  // Without recording the clock emits no instant: Check2 stays ticked, and the receiver
  // below only notes the instants.
  form.Check2->setChecked(true);
  // The recording's own receiver is replaced by one that times its CPU on the window's thread.
  QObject::disconnect(&form.Generator(), &generator::Generator::PictureDue, &form.Recorder(),
                      nullptr);
  const double start = bench::NowMs();
  double windowCpu = 0;
  const QMetaObject::Connection noting = QObject::connect(
      &form.Generator(), &generator::Generator::PictureDue, &form,
      [&](const generator::Instant& instant, generator::Outcome& outcome) {
        figures.lateMs.push_back(instant.actualMs - instant.dueMs);
        if (record) {
          const double cpu = ThisThreadCpuSeconds();
          outcome.Run([&] { form.Recorder().RecordPicture(instant); });
          windowCpu += ThisThreadCpuSeconds() - cpu;
        }
        if (bench::NowMs() - start > seconds * 1000.0 && form.Gen().StopRequested == 0)
          QMetaObject::invokeMethod(form.Command4, &QPushButton::click, Qt::QueuedConnection);
      });
  InputProbe probe;
  probe.Start();
  const double writerCpu = ThreadCpuSeconds("picture writer");
  form.Generator().Command20_Click();
  form.Recorder().WaitUntilWritten();
  figures.recordingCpuSeconds = windowCpu + ThreadCpuSeconds("picture writer") - writerCpu;
  figures.windowCpuSeconds = windowCpu;
  probe.Stop();
  figures.inputMs = probe.waitedMs;
  figures.pictures = static_cast<int>(figures.lateMs.size());
  QObject::disconnect(noting);
  form.Generator().Command4_Click();
  return figures;
}

// The log's frame ages and numbers: the share whose frame is the nearest to the instant (no
// further than half a frame interval, with 1 ms for the camera's jitter), and frames taken twice.
void NearestShare(const QString& folder, double intervalMs) {
  QFile file(folder + QStringLiteral("/log.csv"));
  if (!file.open(QIODevice::ReadOnly)) return;
  const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
  const QList<QByteArray> header = lines.value(0).split(',');
  const qsizetype age = header.indexOf("frame_age_ms");
  const qsizetype number = header.indexOf("frame_number");
  const qsizetype error = header.indexOf("error");
  int rows = 0, nearest = 0, failed = 0, reused = 0;
  std::set<QByteArray> seen;
  double worst = 0;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QList<QByteArray> fields = lines[i].split(',');
    ++rows;
    if (!fields.value(error).isEmpty()) {
      ++failed;
      continue;
    }
    const double ms = std::abs(fields.value(age).toDouble());
    worst = std::max(worst, ms);
    if (ms <= intervalMs / 2 + 1) ++nearest;
    if (!seen.insert(fields.value(number)).second) ++reused;
  }
  std::printf(
      "    frames: %d of %d pictures nearest their instant (%.2f %%; target >= 99.9 %%), "
      "farthest %.1f ms, %d frames taken twice, %d pictures failed\n",
      nearest, rows, rows ? 100.0 * nearest / rows : 0.0, worst, reused, failed);
}

// The picture done by hand, per picture: copy the latest frame, stretch it to the panel,
// encode it (tjCompress2, or Qt's BMP writer for a BMP), write it.
double BareCpuPerPicture(gst::CameraPipeline& camera, QSize panel, const QString& folder, bool jpeg,
                         int pictures) {
  static int file = 0;  // new files every time, as a run writes
  tjhandle compressor = tjInitCompress();
  double cpu = ThisThreadCpuSeconds();
  for (int i = -20; i < pictures; ++i) {
    if (i == 0) cpu = ThisThreadCpuSeconds();  // after a warm-up

    const QImage frame = camera.LatestFrame()->Image().copy();
    QImage stretched(panel, QImage::Format_RGB32);
    {
      QPainter painter(&stretched);
      painter.drawImage(QRectF(QPointF(0, 0), QSizeF(panel)), frame);
    }
    QFile out(folder + QStringLiteral("/bare%1").arg(++file));
    out.open(QIODevice::WriteOnly);
    if (jpeg) {
      unsigned char* bytes = nullptr;
      unsigned long size = 0;
      tjCompress2(compressor, stretched.constBits(), stretched.width(),
                  static_cast<int>(stretched.bytesPerLine()), stretched.height(), TJPF_BGRX, &bytes,
                  &size, TJSAMP_420, 70, 0);
      out.write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(size));
      tjFree(bytes);
    } else {
      stretched.save(&out, "BMP");
    }
  }
  tjDestroy(compressor);
  return (ThisThreadCpuSeconds() - cpu) / pictures;
}

void Print(const char* what, const std::vector<double>& ms) {
  if (ms.empty()) {
    std::printf("    %-34s none\n", what);
    return;
  }
  std::printf("    %-34s median %7.3f  p99 %7.3f  max %7.3f ms\n", what, bench::Percentile(ms, 0.5),
              bench::Percentile(ms, 0.99), bench::Percentile(ms, 1.0));
}

// The main window with the case's camera at `size`, the bench's sound device and the run's
// settings; null camera when the test camera has no such size.
gst::CameraPipeline* SetUp(app::Form1& form, const Case& c, QSize size) {
  gst::CameraPipeline* camera = nullptr;
  if (c.graph) {
    form.Option8->click();
    form.Camera().Command11_Click();
    form.Camera().DirectShow().BuildCameraGraph(1);  // the MJPEG camera
    (c.jpeg ? form.Option10 : form.Option9)->setChecked(true);
    camera = form.CameraState().FilterGraph->Camera();
  } else {
    form.Camera().Command11_Click();
    camera =
        &static_cast<capture::CaptureWindow*>(capture::WindowOf(form.CameraState().CaptureWindow))
             ->Pipeline();
  }
  // The same kind of format the camera runs in (raw for the capture window, JPEG for the
  // MJPEG camera of the filter graph), at the size asked.
  const gst::CameraFormat* format =
      camera->Camera().Find(camera->Format().IsRaw(), size.width(), size.height());
  if (!format || !camera->ChangeFormat(*format)) return nullptr;
  bench::RunEventsFor(700);
  const int row = form.Combo1->findText(QStringLiteral("bench"));
  form.Combo1->setCurrentIndex(row);
  emit form.Combo1->Click(row);
  form.Option5->setChecked(true);
  form.Text4->setText(QStringLiteral("30"));
  form.Text27->setText(QStringLiteral("2"));
  form.Text7->setText(QStringLiteral("1"));
  return camera;
}

}  // namespace

int main(int argc, char* argv[]) {
  bench::UseOffscreenWithoutDisplay();
  QApplication application(argc, argv);
  app::ApplyApplicationStyle(application);
  const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 60;
  std::vector<QSize> sizes;
  QByteArray only;  // "capture" or "graph": that back end alone
  for (int i = 2; i < argc; ++i) {
    const QList<QByteArray> parts = QByteArray(argv[i]).split('x');
    if (parts.size() == 2)
      sizes.emplace_back(parts[0].toInt(), parts[1].toInt());
    else
      only = argv[i];
  }
  if (sizes.empty()) sizes = {QSize(640, 480), QSize(1280, 720), QSize(1920, 1080)};
  QTemporaryDir program;
  for (const char* folder : {"Risunki", "SnapShot", "Video"})
    QDir(program.path()).mkdir(QString::fromLatin1(folder));
  recording::SetProgramFolder(program.path());
  gst::RegisterVirtualCameras();
  bench::VirtualSoundDevice(program.filePath(QStringLiteral("bench.wav")));
  forms::SetMessageBoxFunction([](const QString& text, const QString&) {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  });

  std::printf("%d s at 30 instants a second (30/2 Hz, NC0 = 1) per case\n", seconds);
  for (const QSize size : sizes) {
    for (const Case& c :
         {Case{"capture window, bmp", false, false}, Case{"filter graph, bmp", true, false},
          Case{"filter graph, jpg", true, true}}) {
      if ((only == "capture" && c.graph) || (only == "graph" && !c.graph)) continue;
      std::printf("%s, camera %d x %d\n", c.name, size.width(), size.height());
      RunFigures bare;
      {
        app::Form1 alone;
        if (!SetUp(alone, c, size)) {
          std::printf("  the test camera has no %d x %d\n", size.width(), size.height());
          continue;
        }
        bare = ClockRun(alone, false, seconds);
        alone.Camera().Command13_Click();
      }
      app::Form1 form;
      gst::CameraPipeline* camera = SetUp(form, c, size);
      const RunFigures recorded = ClockRun(form, true, seconds);
      Print("instant lateness, clock alone:", bare.lateMs);
      Print("instant lateness, recording:", recorded.lateMs);
      if (!recorded.lateMs.empty() && !bare.lateMs.empty())
        std::printf(
            "    p99 beside the clock alone: %+.3f ms (target <= 3 ms)\n",
            bench::Percentile(recorded.lateMs, 0.99) - bench::Percentile(bare.lateMs, 0.99));
      Print("window input waited, clock alone:", bare.inputMs);
      Print("window input waited, recording:", recorded.inputMs);
      NearestShare(form.Recorder().Names().PictureFolder, 1000.0 / 30);
      const double perPicture = recorded.recordingCpuSeconds / std::max(1, recorded.pictures);
      const QSize panel = form.PictureWindow().Picture2->Image().size();
      const double handJpeg = BareCpuPerPicture(*camera, panel, program.path(), true, 300);
      std::printf(
          "    CPU per picture %.2f ms (the window's part %.2f ms, the writer the rest); bare "
          "copy + stretch + tjCompress2 + write %.2f ms: %.2f x (target <= 1.5 x)\n",
          perPicture * 1000, recorded.windowCpuSeconds / std::max(1, recorded.pictures) * 1000,
          handJpeg * 1000, perPicture / handJpeg);
      if (!c.jpeg) {
        const double handBmp = BareCpuPerPicture(*camera, panel, program.path(), false, 300);
        std::printf("    the same with Qt's BMP writer in place of tjCompress2 %.2f ms: %.2f x\n",
                    handBmp * 1000, perPicture / handBmp);
      }
      form.Generator().Command4_Click();
      form.Camera().Command13_Click();
      QDir(program.path() + QStringLiteral("/Risunki")).removeRecursively();
      QDir(program.path()).mkdir(QStringLiteral("Risunki"));
    }
  }
  recording::SetProgramFolder(QString());
  gst::ClearVirtualCameras();
  return 0;
}

// A run of 30 recording instants a second (tone 30/2 Hz, NC0 = 1) on the test cameras, for
// each back end and format and each camera size: how late the instants come beside the same
// clock without recording, how long the window takes to answer input while it records, the
// pictures missing and the frames taken twice, how far each picture's frame lies from its
// instant, and the CPU a picture costs beside a bare frame copy + stretch + tjCompress2 + write.
// With "fps=60" the test cameras offer 60 frames a second only and the runs take 60 instants a
// second (tone 60/2 Hz, NC0 = 1), against the tighter targets of that rate, each CPU figure
// beside the bare chain of its own format.
//   Usage: bench_picture_path [seconds] [WIDTHxHEIGHT ...] [capture|graph] [fps=60]
//   (default 60 s; 640x480 1280x720 1920x1080, with fps=60 1280x720 1920x1080; both back
//   ends). The capture window takes the YUY2 camera's raw frames at 30 and the MJPEG camera's
//   at 60, and saves BMP pictures only; the filter graph takes the MJPEG camera's JPEG frames
//   and saves BMP or JPEG.

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
#include "platform/capture/capture.h"
#include "platform/capture/capture_window.h"
#include "platform/forms/message_box.h"
#include "platform/gst/virtual_devices.h"
#include "recording/output_files.h"
#include "recording/run_log.h"

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
        const double cpu = ThisThreadCpuSeconds();
        outcome.Run([&] {
          if (record) form.Recorder().RecordPicture(instant);
        });
        if (record) windowCpu += ThisThreadCpuSeconds() - cpu;
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

// What the run folder's log says of the pictures of a run of `instants` instants (of the
// `expected` a run of its length has: fewer when it ended early) on a camera of `fps` frames a
// second: rows missing (an instant without its row, or a gap in the pictures' numbers),
// pictures failed, frames taken twice, and how far each picture's frame lies from its instant
// beside half a frame interval plus the camera's jitter (the largest departure of the logged
// frames' capture intervals from 1/fps).
void PrintLogFigures(const QString& folder, int instants, int expected, double fps) {
  QFile file(QDir(folder).filePath(recording::RunLog::kFileName));
  if (!file.open(QIODevice::ReadOnly)) {
    std::printf("    no log in %s\n", qPrintable(folder));
    return;
  }
  const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
  const QList<QByteArray> header = lines.value(0).split(',');
  // The columns read all come before the first that may hold a comma (the error's text).
  const qsizetype picture = header.indexOf("picture");
  const qsizetype capture = header.indexOf("frame_capture_ms");
  const qsizetype age = header.indexOf("frame_age_ms");
  const qsizetype number = header.indexOf("frame_number");
  const qsizetype error = header.indexOf("error");
  const double intervalMs = 1000.0 / fps;
  int rows = 0, failed = 0, reused = 0, gaps = 0;
  std::set<QByteArray> seen;
  std::vector<double> ages;
  double jitter = 0;
  qint64 lastPicture = -1, lastFrame = -1;
  double lastCapture = 0;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QList<QByteArray> fields = lines[i].split(',');
    ++rows;
    const qint64 n = fields.value(picture).toLongLong();
    if (lastPicture >= 0 && n > lastPicture + 1) gaps += static_cast<int>(n - lastPicture - 1);
    lastPicture = n;
    if (!fields.value(error).isEmpty()) {
      ++failed;
      continue;
    }
    ages.push_back(std::abs(fields.value(age).toDouble()));
    if (!seen.insert(fields.value(number)).second) ++reused;
    const qint64 frame = fields.value(number).toLongLong();
    const double captured = fields.value(capture).toDouble();
    // Each capture time is the frame's due time plus its jitter, so neighbours a frame or two
    // apart show it; further apart, a rate a little off 1/fps would add up.
    if (lastFrame >= 0 && frame > lastFrame && frame - lastFrame <= 2)
      jitter = std::max(jitter, std::abs(captured - lastCapture -
                                         static_cast<double>(frame - lastFrame) * intervalMs));
    lastFrame = frame;
    lastCapture = captured;
  }
  const double allowed = intervalMs / 2 + jitter;
  const auto nearest =
      std::count_if(ages.begin(), ages.end(), [&](double a) { return a <= allowed; });
  const double worst = ages.empty() ? 0 : bench::Percentile(ages, 1.0);
  std::printf(
      "    pictures: %d instants (a whole run has about %d), %d rows in the log: %d missing "
      "(target 0; %d of them gaps in the numbers), %d failed\n",
      instants, expected, rows, std::max(0, instants - rows) + gaps, gaps, failed);
  std::printf(
      "    frames: %d taken twice; farthest from its instant %.2f ms (target <= %.2f ms: half a "
      "frame interval %.2f + the camera's jitter %.2f); %lld of %zu within it (%.2f %%; target "
      ">= 99.9 %%)\n",
      reused, worst, allowed, intervalMs / 2, jitter, static_cast<long long>(nearest), ages.size(),
      ages.empty() ? 0.0 : 100.0 * static_cast<double>(nearest) / static_cast<double>(ages.size()));
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
// settings (`rate` instants a second: tone rate/2 Hz, NC0 = 1); null camera when the test
// camera has no such size.
gst::CameraPipeline* SetUp(app::Form1& form, const Case& c, QSize size, int rate) {
  gst::CameraPipeline* camera = nullptr;
  if (c.graph) {
    form.Option8->click();
    form.Camera().Command11_Click();
    form.Camera().DirectShow().BuildCameraGraph(1);  // the MJPEG camera
    (c.jpeg ? form.Option10 : form.Option9)->setChecked(true);
    camera = form.CameraState().FilterGraph->Camera();
  } else {
    form.Camera().Command11_Click();
    // At 60 frames a second a webcam gives its large sizes only as MJPEG: the capture window
    // takes the MJPEG camera (the second driver) then, the YUY2 one otherwise.
    if (rate >= 60)
      capture::SendMessageA(form.CameraState().CaptureWindow, capture::WM_CAP_DRIVER_CONNECT, 1, 0);
    camera =
        &static_cast<capture::CaptureWindow*>(capture::WindowOf(form.CameraState().CaptureWindow))
             ->Pipeline();
  }
  // The same kind of format the camera runs in (raw for the capture window at 30, JPEG for
  // the MJPEG camera), at the size asked.
  const bool raw = !c.graph && rate < 60;
  const gst::CameraFormat* format = camera->Camera().Find(raw, size.width(), size.height());
  if (!format || !camera->ChangeFormat(bench::AtRate(*format, rate))) return nullptr;
  bench::RunEventsFor(700);
  const int row = form.Combo1->findText(QStringLiteral("bench"));
  form.Combo1->setCurrentIndex(row);
  emit form.Combo1->Click(row);
  form.Option5->setChecked(true);
  form.Text4->setText(QString::number(rate));
  form.Text27->setText(QStringLiteral("2"));
  form.Text7->setText(QStringLiteral("1"));
  return camera;
}

}  // namespace

int main(int argc, char* argv[]) {
  bench::UseOffscreenWithoutDisplay();
  QApplication application(argc, argv);
  app::ApplyApplicationStyle(application);
  // 60: the cameras offer 60 frames a second only, and the clock takes 60 instants a second.
  const bool at60 = bench::FpsArgument(argc, argv) == 60;
  const int seconds = bench::SecondsArgument(argc, argv, 60, 2);
  const int rate = at60 ? 60 : 30;
  // The targets of each rate: p99 lateness beside the clock alone, and CPU per picture beside
  // the bare chain (at 60, of the picture's own format; at 30, tjCompress2 for both).
  const double lateTargetMs = at60 ? 1.0 : 3.0;
  const double cpuTarget = at60 ? 1.3 : 1.5;
  std::vector<QSize> sizes;
  QByteArray only;  // "capture" or "graph": that back end alone
  for (int i = 2; i < argc; ++i) {
    const QList<QByteArray> parts = QByteArray(argv[i]).split('x');
    if (parts.size() == 2)
      sizes.emplace_back(parts[0].toInt(), parts[1].toInt());
    else if (!QByteArray(argv[i]).startsWith("fps="))
      only = argv[i];
  }
  if (sizes.empty()) {
    sizes = {QSize(1280, 720), QSize(1920, 1080)};
    if (!at60) sizes.insert(sizes.begin(), QSize(640, 480));
  }
  QTemporaryDir program;
  for (const char* folder : {"Risunki", "SnapShot", "Video"})
    QDir(program.path()).mkdir(QString::fromLatin1(folder));
  recording::SetProgramFolder(program.path());
  bench::RegisterTestCameras(at60 ? 60 : 0);
  bench::VirtualSoundDevice(program.filePath(QStringLiteral("bench.wav")));
  forms::SetMessageBoxFunction([](const QString& text, const QString&) {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  });

  std::printf("%d s at %d instants a second (%d/2 Hz, NC0 = 1) per case%s\n", seconds, rate, rate,
              at60 ? ", test cameras at 60 frames/s" : "");
  for (const QSize size : sizes) {
    // No "capture window, jpg": the capture window saves BMP pictures only.
    for (const Case& c :
         {Case{"capture window, bmp", false, false}, Case{"filter graph, bmp", true, false},
          Case{"filter graph, jpg", true, true}}) {
      if ((only == "capture" && c.graph) || (only == "graph" && !c.graph)) continue;
      std::printf("%s, camera %d x %d\n", c.name, size.width(), size.height());
      std::fflush(stdout);
      RunFigures bare;
      {
        app::Form1 alone;
        if (!SetUp(alone, c, size, rate)) {
          std::printf("  the test camera has no %d x %d\n", size.width(), size.height());
          continue;
        }
        bare = ClockRun(alone, false, seconds);
        alone.Camera().Command13_Click();
      }
      app::Form1 form;
      gst::CameraPipeline* camera = SetUp(form, c, size, rate);
      const std::uint64_t frames0 = camera->FrameCount();
      const double start = bench::NowMs();
      const RunFigures recorded = ClockRun(form, true, seconds);
      const double cameraFps =
          static_cast<double>(camera->FrameCount() - frames0) * 1000.0 / (bench::NowMs() - start);
      std::printf("    camera: %s, %s at %g frames/s, delivered %.1f/s while recording\n",
                  qPrintable(camera->Camera().name), qPrintable(camera->Format().Describe()),
                  camera->FramesPerSecond(), cameraFps);
      Print("instant lateness, clock alone:", bare.lateMs);
      Print("instant lateness, recording:", recorded.lateMs);
      if (!recorded.lateMs.empty() && !bare.lateMs.empty()) {
        const double withP99 = bench::Percentile(recorded.lateMs, 0.99);
        const double aloneP99 = bench::Percentile(bare.lateMs, 0.99);
        std::printf(
            "    p99 %.3f ms beside the clock alone's %.3f ms: %+.3f ms, %.2f x (target <= %g ms "
            "more)\n",
            withP99, aloneP99, withP99 - aloneP99, aloneP99 > 0 ? withP99 / aloneP99 : 0.0,
            lateTargetMs);
      }
      Print("window input waited, clock alone:", bare.inputMs);
      Print("window input waited, recording:", recorded.inputMs);
      PrintLogFigures(form.Recorder().Names().PictureFolder, recorded.pictures, rate * seconds,
                      camera->FramesPerSecond() > 0 ? camera->FramesPerSecond() : rate);
      const double perPicture = recorded.recordingCpuSeconds / std::max(1, recorded.pictures);
      const QSize panel = form.PictureWindow().Picture2->Image().size();
      const double handJpeg = BareCpuPerPicture(*camera, panel, program.path(), true, 300);
      const double handBmp =
          c.jpeg ? 0 : BareCpuPerPicture(*camera, panel, program.path(), false, 300);
      const double handTarget = at60 && !c.jpeg ? handBmp : handJpeg;
      std::printf(
          "    CPU per picture %.2f ms (the window's part %.2f ms, the writer the rest); bare "
          "copy + stretch + %s + write %.2f ms: %.2f x (target <= %g x)\n",
          perPicture * 1000, recorded.windowCpuSeconds / std::max(1, recorded.pictures) * 1000,
          at60 && !c.jpeg ? "Qt's BMP writer" : "tjCompress2", handTarget * 1000,
          perPicture / handTarget, cpuTarget);
      if (!c.jpeg) {
        const bool bmpShown = at60;
        std::printf("    the same with %s %.2f ms: %.2f x\n",
                    bmpShown ? "tjCompress2 in place of Qt's BMP writer"
                             : "Qt's BMP writer in place of tjCompress2",
                    (bmpShown ? handJpeg : handBmp) * 1000,
                    perPicture / (bmpShown ? handJpeg : handBmp));
      }
      std::fflush(stdout);
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

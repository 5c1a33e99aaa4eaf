// A run of 30 recording instants a second (tone 30/2 Hz, NC0 = 1) on the test cameras, for
// each back end and format and each camera size: how late the instants come beside the same
// clock without recording, how long the window takes to answer input while it records, the
// share of pictures that hold the frame nearest their instant, and the CPU a picture costs
// beside a bare frame copy + stretch + tjCompress2 + write.
//   Usage: bench_picture_path [seconds] [WIDTHxHEIGHT ...]   (default 60 s; 640x480 1280x720
//   1920x1080)

#include <turbojpeg.h>

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

struct RunFigures {
  std::vector<double> lateMs;
  std::vector<double> inputMs;
  double cpuSeconds = 0;
  int pictures = 0;
};

// One clock run of `seconds`; with `record` the recorder takes its pictures, without it only
// the instants are noted.
RunFigures ClockRun(app::Form1& form, bool record, int seconds) {
  RunFigures figures;
  // Without recording the clock emits no instant: a probe stands in for the recorder.
  form.Check2->setChecked(true);
  if (!record)
    QObject::disconnect(&form.Generator(), &generator::Generator::PictureDue, &form.Recorder(),
                        nullptr);
  const double start = bench::NowMs();
  const QMetaObject::Connection noting = QObject::connect(
      &form.Generator(), &generator::Generator::PictureDue, &form,
      [&](const generator::Instant& instant, generator::Outcome&) {
        figures.lateMs.push_back(instant.actualMs - instant.dueMs);
        if (bench::NowMs() - start > seconds * 1000.0 && form.Gen().StopRequested == 0)
          QMetaObject::invokeMethod(form.Command4, &QPushButton::click, Qt::QueuedConnection);
      });
  InputProbe probe;
  probe.Start();
  const double cpu = bench::CpuSeconds(RUSAGE_SELF);
  form.Generator().Command20_Click();
  form.Recorder().WaitUntilWritten();
  figures.cpuSeconds = bench::CpuSeconds(RUSAGE_SELF) - cpu;
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
// compress it, write it.
double BareCpuPerPicture(gst::CameraPipeline& camera, QSize panel, const QString& folder,
                         int pictures) {
  tjhandle compressor = tjInitCompress();
  const double cpu = bench::CpuSeconds(RUSAGE_THREAD);
  for (int i = 0; i < pictures; ++i) {
    const QImage frame = camera.LatestFrame()->Image().copy();
    QImage stretched(panel, QImage::Format_RGB32);
    {
      QPainter painter(&stretched);
      painter.drawImage(QRectF(QPointF(0, 0), QSizeF(panel)), frame);
    }
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(compressor, stretched.constBits(), stretched.width(),
                static_cast<int>(stretched.bytesPerLine()), stretched.height(), TJPF_BGRX, &jpeg,
                &size, TJSAMP_420, 70, 0);
    QFile file(folder + QStringLiteral("/bare%1.jpg").arg(i));
    file.open(QIODevice::WriteOnly);
    file.write(reinterpret_cast<const char*>(jpeg), static_cast<qint64>(size));
    tjFree(jpeg);
  }
  tjDestroy(compressor);
  return (bench::CpuSeconds(RUSAGE_THREAD) - cpu) / pictures;
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
  const gst::CameraFormat* format = camera->Camera().Find(true, size.width(), size.height());
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
  for (int i = 2; i < argc; ++i) {
    const QList<QByteArray> parts = QByteArray(argv[i]).split('x');
    if (parts.size() == 2) sizes.emplace_back(parts[0].toInt(), parts[1].toInt());
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
      const double perPicture =
          (recorded.cpuSeconds - bare.cpuSeconds * recorded.pictures / std::max(1, bare.pictures)) /
          std::max(1, recorded.pictures);
      const double handMade = BareCpuPerPicture(
          *camera, form.PictureWindow().Picture2->Image().size(), program.path(), 200);
      std::printf(
          "    CPU per picture %.2f ms beside bare copy + stretch + tjCompress2 + write "
          "%.2f ms: %.2f x (target <= 1.5 x)\n",
          perPicture * 1000, handMade * 1000, perPicture / handMade);
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

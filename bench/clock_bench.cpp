// Runs the period clock in real time on the virtual sound device and prints how late the
// recording instants come (actual minus due) and the CPU the clock costs.
// Usage: bench_clock [seconds]  — runs 2/2 Hz with NC0 = 2, then 200/2 Hz with NC0 = 1.

#include <sys/resource.h>

#include <QMetaObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/app_style.h"
#include "app/main_window.h"
#include "bench/bench_support.h"
#include "platform/forms/application.h"
#include "platform/forms/message_box.h"
#include "platform/gst/virtual_devices.h"

namespace {

// The system clock, noting when the period clock read its start.
class StartNotingTime : public forms::TimeSource {
 public:
  std::int64_t Nanoseconds() override {
    const std::int64_t now = forms::SystemTime().Nanoseconds();
    if (armed) {
      start = now;
      armed = false;
    }
    return now;
  }
  void SleepUntil(std::int64_t deadline) override { forms::SystemTime().SleepUntil(deadline); }
  QDateTime Now() override { return forms::SystemTime().Now(); }
  bool armed = false;
  std::int64_t start = 0;
};

void Run(app::Form1& form, StartNotingTime& time, const char* numerator, const char* nc0,
         int seconds) {
  form.Text4->setText(QString::fromLatin1(numerator));
  form.Text7->setText(QString::fromLatin1(nc0));
  const double periodNs = 1e9 / std::atof(numerator) * std::atoi(nc0);
  std::vector<double> lateMs;
  // The clock alone: in place of the recording, a receiver that notes each instant's lateness.
  QObject::disconnect(&form.Generator(), &generator::Generator::PictureDue, &form.Recorder(),
                      nullptr);
  const QMetaObject::Connection noting = QObject::connect(
      &form.Generator(), &generator::Generator::PictureDue, &form,
      [&](const generator::Instant& instant) {
        const std::int64_t now = forms::SystemTime().Nanoseconds();
        const double due = time.start + instant.number * periodNs;
        lateMs.push_back((now - due) / 1e6);
        if (now - time.start > seconds * 1e9 && form.Gen().StopRequested == 0)
          QMetaObject::invokeMethod(form.Command4, &QPushButton::click, Qt::QueuedConnection);
      });
  const int row = form.Combo1->findText(QStringLiteral("bench"));
  form.Combo1->setCurrentIndex(row);
  emit form.Combo1->Click(row);
  const double cpuClock = bench::CpuSeconds(RUSAGE_THREAD);
  const double cpuAll = bench::CpuSeconds(RUSAGE_SELF);
  time.armed = true;
  form.Generator().Command20_Click();
  QObject::disconnect(noting);
  const double wall = (forms::SystemTime().Nanoseconds() - time.start) / 1e9;
  std::printf("%s/2 Hz, NC0 = %s: %zu instants in %.1f s\n", numerator, nc0, lateMs.size(), wall);
  std::printf("  lateness, ms: median %.3f  p99 %.3f  max %.3f\n", bench::Percentile(lateMs, 0.5),
              bench::Percentile(lateMs, 0.99), bench::Percentile(lateMs, 1.0));
  std::printf("  CPU of the clock (GUI thread): %.2f %% of one core; whole process %.2f %%\n",
              100 * (bench::CpuSeconds(RUSAGE_THREAD) - cpuClock) / wall,
              100 * (bench::CpuSeconds(RUSAGE_SELF) - cpuAll) / wall);
}

// The same schedule as the fast run with nothing but sleeps: what this machine's scheduler
// gives any sleeping thread, for comparison with the clock's numbers.
void SleepBaseline(int seconds) {
  std::vector<double> lateMs;
  std::int64_t due = forms::SystemTime().Nanoseconds();
  for (int i = 0; i < seconds * 200; ++i) {
    due += 5000000;
    forms::SystemTime().SleepUntil(due);
    lateMs.push_back((forms::SystemTime().Nanoseconds() - due) / 1e6);
  }
  std::printf("bare sleep every 5 ms, lateness, ms: median %.3f  p99 %.3f  max %.3f\n",
              bench::Percentile(lateMs, 0.5), bench::Percentile(lateMs, 0.99),
              bench::Percentile(lateMs, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  forms::Application application(argc, argv);
  app::ApplyApplicationStyle(application);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  QTemporaryDir dir;
  gst::RegisterVirtualSoundDevice(QStringLiteral("bench"), dir.filePath("bench.wav"));
  forms::SetMessageBoxFunction([](const QString& text, const QString& title) {
    std::fprintf(stderr, "message box %s: %s\n", qPrintable(title), qPrintable(text));
  });
  app::Form1 form;
  StartNotingTime time;
  form.Generator().SetTimeSource(time);
  form.Check2->setChecked(true);
  Run(form, time, "2", "2", seconds);
  Run(form, time, "200", "1", seconds);
  SleepBaseline(seconds);
  return 0;
}

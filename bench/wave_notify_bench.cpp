// Plays two alternating buffers on the virtual sound device and measures, on the GUI thread,
// how late each "played" notice is handled against the buffer's ideal end, and how much CPU
// the streaming costs.  Usage: bench_wave_notify [seconds] [buffer-ms]

#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/bench_support.h"
#include "platform/gst/virtual_devices.h"
#include "platform/wave/wave_out.h"

using namespace wave;

namespace {

class Player : public QObject {
 public:
  HWAVEOUT handle = 0;
  WAVEHDR* headers[2] = {};
  QElapsedTimer clock;
  std::vector<double> doneAt;  // ms since the first write

  bool event(QEvent* e) override {
    if (e->type() != WaveOutEvent::kType) return QObject::event(e);
    if (static_cast<WaveOutEvent*>(e)->Message() == MM_WOM_DONE) {
      doneAt.push_back(clock.nsecsElapsed() / 1e6);
      waveOutWrite(handle, headers[0], kWaveHdrSize);
      waveOutWrite(handle, headers[1], kWaveHdrSize);
    }
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  const int bufferMs = argc > 2 ? std::atoi(argv[2]) : 100;
  QTemporaryDir dir;
  const int device = bench::VirtualSoundDevice(dir.filePath("bench.wav"));
  WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 18};
  const size_t samples = 48 * static_cast<size_t>(bufferMs);
  std::vector<std::int16_t> one(samples), two(samples);
  for (size_t i = 0; i < samples; ++i)
    one[i] = two[i] = static_cast<std::int16_t>(10000 * std::sin(i * 2 * M_PI * 100 / 48000));
  WAVEHDR h1{reinterpret_cast<char*>(one.data()), static_cast<std::uint32_t>(samples * 2), 0};
  WAVEHDR h2{reinterpret_cast<char*>(two.data()), static_cast<std::uint32_t>(samples * 2), 0};

  Player player;
  player.headers[0] = &h1;
  player.headers[1] = &h2;
  if (waveOutOpen(&player.handle, device, &format, &player, -1, CALLBACK_WINDOW) != 0) {
    std::fprintf(stderr, "cannot open the virtual device\n");
    return 1;
  }
  waveOutPrepareHeader(player.handle, &h1, kWaveHdrSize);
  waveOutPrepareHeader(player.handle, &h2, kWaveHdrSize);
  const double cpuBefore = bench::CpuSeconds();
  player.clock.start();
  waveOutWrite(player.handle, &h1, kWaveHdrSize);
  waveOutWrite(player.handle, &h2, kWaveHdrSize);
  QTimer::singleShot(seconds * 1000, &application, &QCoreApplication::quit);
  application.exec();
  const double cpu = bench::CpuSeconds() - cpuBefore;
  const double wall = player.clock.nsecsElapsed() / 1e9;
  waveOutReset(player.handle);
  waveOutUnprepareHeader(player.handle, &h1, kWaveHdrSize);
  waveOutUnprepareHeader(player.handle, &h2, kWaveHdrSize);
  waveOutClose(player.handle);

  if (player.doneAt.size() < 3) {
    std::fprintf(stderr, "too few notices: %zu\n", player.doneAt.size());
    return 1;
  }
  // The first buffer's start is taken from the first notice, so the numbers show the
  // spread of the notices around a regular schedule with no gap.
  const double first = player.doneAt.front() - bufferMs;
  std::vector<double> lateness;
  for (size_t k = 0; k < player.doneAt.size(); ++k)
    lateness.push_back(player.doneAt[k] - (first + (k + 1) * bufferMs));
  std::printf("notices: %zu in %.1f s (expected %.0f)\n", player.doneAt.size(), wall,
              wall * 1000 / bufferMs);
  std::printf("lateness vs schedule, ms: median %.3f  p99 %.3f  max %.3f  min %.3f\n",
              bench::Percentile(lateness, 0.5), bench::Percentile(lateness, 0.99),
              bench::Percentile(lateness, 1.0), bench::Percentile(lateness, 0.0));
  std::printf("first buffer started %.1f ms after the first write\n", first);
  std::printf("CPU: %.2f %% of one core\n", 100 * cpu / wall);
  return 0;
}

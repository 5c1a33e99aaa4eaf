// Plays the virtual sound device for a moment and times the stop as the generator makes it
// (reset, unprepare both headers, close): how long the caller waits, and how long after
// that the device has been released in the background.  Usage: bench_wave_stop [rounds]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/bench_support.h"
#include "platform/gst/virtual_devices.h"
#include "platform/wave/wave_out.h"

using namespace wave;

namespace {

void Print(const char* what, const std::vector<double>& ms) {
  std::printf("%-32s median %.2f  p90 %.2f  max %.2f ms\n", what, bench::Percentile(ms, 0.5),
              bench::Percentile(ms, 0.9), bench::Percentile(ms, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  QTemporaryDir dir;
  const int device = bench::VirtualSoundDevice(dir.filePath("bench.wav"));
  const WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 48000, 96000, 2, 16, 18};
  std::vector<std::int16_t> one(96000, 1000), two(96000, -1000);  // two 1 s buffers

  std::vector<double> stopMs, releasedMs;
  for (int round = 0; round < rounds; ++round) {
    WAVEHDR h1{reinterpret_cast<char*>(one.data()), 192000, 0};
    WAVEHDR h2{reinterpret_cast<char*>(two.data()), 192000, 0};
    HWAVEOUT handle = 0;
    if (waveOutOpen(&handle, device, &format, nullptr, -1, CALLBACK_WINDOW) != 0) {
      std::fprintf(stderr, "cannot open the virtual device\n");
      return 1;
    }
    waveOutPrepareHeader(handle, &h1, kWaveHdrSize);
    waveOutPrepareHeader(handle, &h2, kWaveHdrSize);
    waveOutWrite(handle, &h1, kWaveHdrSize);
    waveOutWrite(handle, &h2, kWaveHdrSize);
    QThread::msleep(100 + 37 * (round % 7));  // stop at different points of a chunk

    QElapsedTimer elapsed;
    elapsed.start();
    waveOutReset(handle);
    waveOutUnprepareHeader(handle, &h1, kWaveHdrSize);
    waveOutUnprepareHeader(handle, &h2, kWaveHdrSize);
    waveOutClose(handle);
    stopMs.push_back(elapsed.nsecsElapsed() / 1e6);
    WaitForReleases();
    releasedMs.push_back(elapsed.nsecsElapsed() / 1e6);
  }
  std::printf("virtual sound device, %d stops after 0.1-0.3 s of tone\n", rounds);
  Print("stop returns after", stopMs);
  Print("device released after", releasedMs);
  return 0;
}

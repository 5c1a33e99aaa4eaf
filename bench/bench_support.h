#pragma once
// What the benchmarks share: percentiles of the measured times, the clock and CPU time they
// read, an event loop that runs for a while, and the virtual sound device they play on.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/gst/camera_devices.h"
#include "platform/gst/test_scene.h"
#include "platform/gst/virtual_devices.h"
#include "platform/wave/wave_out.h"

namespace bench {

// The value below which a share p of the values lies (p = 1: the largest).
inline double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

// Benches that show windows draw offscreen unless a display is named.
inline void UseOffscreenWithoutDisplay() {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Steady-clock milliseconds.
inline double NowMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// CPU seconds (user and system) of the process (RUSAGE_SELF) or the calling thread
// (RUSAGE_THREAD).
inline double CpuSeconds(int who = RUSAGE_SELF) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Lets the events run for `ms`, calling `every` each `everyMs` if given.
inline void RunEventsFor(int ms, const std::function<void()>& every = {}, int everyMs = 0) {
  QElapsedTimer timer;
  timer.start();
  qint64 next = 0;
  while (timer.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (every && timer.elapsed() >= next) {
      every();
      next += everyMs;
    }
    QThread::msleep(1);
  }
}

// Registers a virtual sound device playing into `wavPath` and returns its device number
// (-2 when it is not listed).
inline int VirtualSoundDevice(const QString& wavPath) {
  gst::RegisterVirtualSoundDevice(QStringLiteral("bench"), wavPath);
  const int count = static_cast<int>(wave::waveOutGetNumDevs());
  for (int device = 0; device < count; ++device) {
    wave::WAVEOUTCAPS caps;
    if (wave::waveOutGetDevCaps(device, &caps) == wave::MMSYSERR_NOERROR &&
        caps.szPname == QStringLiteral("bench"))
      return device;
  }
  return -2;
}

// The frame rate a bench's argument "fps=N" asks of the test cameras; 0 when none does.
inline int FpsArgument(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "fps=", 4) == 0) return std::max(0, std::atoi(argv[i] + 4));
  return 0;
}

// The seconds a bench's first argument gives (when it is not "fps=N"), at least `least`;
// `fallback` when none is given.
inline int SecondsArgument(int argc, char* argv[], int fallback, int least) {
  if (argc < 2 || std::strncmp(argv[1], "fps=", 4) == 0) return fallback;
  return std::max(least, std::atoi(argv[1]));
}

// Registers the built-in test cameras offering exactly `fps` frames a second at every size, or
// their usual rates, each format's own as a webcam's, for 0. The scene's other settings stay
// as they are.
inline void RegisterTestCameras(int fps) {
  gst::SceneSettings scene = gst::TestSceneSettings();
  scene.rates = fps > 0 ? std::vector<int>{fps} : std::vector<int>{};
  gst::SetTestSceneSettings(scene);
  gst::RegisterVirtualCameras();
}

// The format with `fps` moved first among its rates, when it offers that rate (a camera opens
// at the first); else the format as it is.
inline gst::CameraFormat AtRate(gst::CameraFormat format, int fps) {
  const auto wanted = std::find_if(format.rates.begin(), format.rates.end(), [&](const auto& r) {
    return r.numerator == fps * r.denominator;
  });
  if (wanted != format.rates.end()) std::rotate(format.rates.begin(), wanted, wanted + 1);
  return format;
}

}  // namespace bench

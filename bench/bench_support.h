#pragma once
// What the benchmarks of the sound output share: percentiles of the measured times, and the
// virtual sound device they play on.

#include <QString>
#include <algorithm>
#include <vector>

#include "platform/gst/virtual_devices.h"
#include "platform/wave/wave_out.h"

namespace bench {

// The value below which a share p of the values lies (p = 1: the largest).
inline double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

// Registers a virtual sound device playing into `wavPath` and returns its device number
// (-2 when it is not listed).
inline int VirtualSoundDevice(const QString& wavPath) {
  gstutil::RegisterVirtualSoundDevice(QStringLiteral("bench"), wavPath);
  const int count = static_cast<int>(wave::waveOutGetNumDevs());
  for (int device = 0; device < count; ++device) {
    wave::WAVEOUTCAPS caps;
    if (wave::waveOutGetDevCaps(device, &caps) == wave::MMSYSERR_NOERROR &&
        caps.szPname == QStringLiteral("bench"))
      return device;
  }
  return -2;
}

}  // namespace bench

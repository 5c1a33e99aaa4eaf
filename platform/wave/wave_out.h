#pragma once
// The wave-output device interface the generator calls: device list, format query, open with
// window notifications, header preparation, queued writes, reset and close. Devices are the
// "Audio/Sink" devices of the GStreamer device monitor; device -1 (the wave mapper) is the
// system's default output.

#include <QEvent>
#include <QString>
#include <cstdint>

class QObject;

namespace wave {

using MMRESULT = std::uint32_t;
using HWAVEOUT = std::uintptr_t;  // 0: no device

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;

inline constexpr int WAVE_MAPPER = -1;
inline constexpr std::uint32_t WAVE_FORMAT_QUERY = 0x0001;
inline constexpr std::uint32_t CALLBACK_WINDOW = 0x00010000;
inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

inline constexpr std::uint32_t WHDR_PREPARED = 0x02;

inline constexpr std::uint32_t MM_WOM_OPEN = 0x3BB;
inline constexpr std::uint32_t MM_WOM_CLOSE = 0x3BC;
inline constexpr std::uint32_t MM_WOM_DONE = 0x3BD;
// Not a message of the wave-output interface: this port's report of an open device that
// failed (a sound card unplugged, its server gone), with the reason. In the application
// message range, so it never meets a system message.
inline constexpr std::uint32_t kDeviceFailed = 0x8000 + 0x3BE;

struct WAVEFORMATEX {
  std::uint16_t wFormatTag = 0;
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;
  std::uint16_t nBlockAlign = 0;
  std::uint16_t wBitsPerSample = 0;
  std::uint16_t cbSize = 0;
};

struct WAVEHDR {
  char* lpData = nullptr;
  std::uint32_t dwBufferLength = 0;  // bytes
  std::uint32_t dwFlags = 0;         // WHDR_PREPARED while prepared
};

struct WAVEOUTCAPS {
  QString szPname;  // the device's full display name
};

// The notifications a device posts to its callback window, one event type for all three.
class WaveOutEvent : public QEvent {
 public:
  static const QEvent::Type kType;
  WaveOutEvent(std::uint32_t message, HWAVEOUT device, WAVEHDR* header, QString reason = {})
      : QEvent(kType),
        message_(message),
        device_(device),
        header_(header),
        reason_(std::move(reason)) {}
  std::uint32_t Message() const { return message_; }
  HWAVEOUT Device() const { return device_; }
  WAVEHDR* Header() const { return header_; }
  // Why the device failed (kDeviceFailed only).
  const QString& Reason() const { return reason_; }

 private:
  std::uint32_t message_;
  HWAVEOUT device_;
  WAVEHDR* header_;
  QString reason_;
};

// Lists the output devices anew; device numbers refer to this list until the next call.
std::uint32_t waveOutGetNumDevs();
MMRESULT waveOutGetDevCaps(int device, WAVEOUTCAPS* caps);

// With WAVE_FORMAT_QUERY only asks whether the device can play the format and opens nothing.
// With CALLBACK_WINDOW, `callback` receives WaveOutEvents (open, done, close).
MMRESULT waveOutOpen(HWAVEOUT* handle, int device, const WAVEFORMATEX* format, QObject* callback,
                     std::intptr_t instance, std::uint32_t flags);
MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header, std::uint32_t size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header, std::uint32_t size);
MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header, std::uint32_t size);
MMRESULT waveOutReset(HWAVEOUT handle);
MMRESULT waveOutClose(HWAVEOUT handle);

inline constexpr std::uint32_t kWaveHdrSize = 32;  // the header size the callers pass

// Not part of the wave-output interface: where an open device's tone is on the clock that
// paces the device (for a sound card its own crystal, not the system's).
struct ToneTiming {
  std::int64_t clockNs = 0;        // the device's clock, now
  std::int64_t steadyNs = 0;       // the steady clock read at the same moment
  std::int64_t firstSampleNs = 0;  // device-clock time at which the stream's sample 0 plays
  std::uint32_t sampleRate = 0;
};
// False when the handle is not open or nothing has been written to it yet.
bool waveOutGetToneTiming(HWAVEOUT handle, ToneTiming* timing);

// A closed device is released in the background; this waits until all of them are, as the
// next open does. Afterwards a device's output is complete (a program ends with it).
void WaitForReleases();

}  // namespace wave

#include "platform/wave/wave_out.h"

#include <QObject>
#include <map>
#include <memory>
#include <vector>

#include "platform/forms/application.h"
#include "platform/gst/device_monitor.h"
#include "platform/gst/gst_util.h"
#include "platform/wave/logging.h"
#include "platform/wave/wave_stream.h"

namespace wave {

const QEvent::Type WaveOutEvent::kType = static_cast<QEvent::Type>(QEvent::registerEventType());

namespace {

struct Device {
  QString name;
  gst::CapsPtr caps;  // null: capabilities could not be read
  std::shared_ptr<GstDevice> device;
  bool isDefault = false;
};

// The device list as of the latest waveOutGetNumDevs; device numbers index into it.
std::vector<Device>& Devices() {
  static std::vector<Device> devices;
  return devices;
}
bool& Listed() {
  static bool listed = false;
  return listed;
}

void ListDevices() {
  std::vector<Device> devices;
  for (const gst::KnownDevice& known :
       gst::DeviceMonitor::Instance().Devices(gst::DeviceMonitor::Kind::Sound)) {
    GstDevice* device = known.device.get();
    Device entry;
    entry.name = known.name;
    entry.caps.reset(gst_device_get_caps(device));
    if (const gst::StructurePtr properties{gst_device_get_properties(device)}) {
      gboolean isDefault = FALSE;
      if (gst_structure_get_boolean(properties.get(), "is-default", &isDefault))
        entry.isDefault = isDefault;
    }
    entry.device = known.device;
    devices.push_back(std::move(entry));
  }
  Devices() = std::move(devices);
  Listed() = true;
}

// The latest list; a device number used before any waveOutGetNumDevs has it taken first.
std::vector<Device>& KnownDevices() {
  if (!Listed()) ListDevices();
  return Devices();
}

bool Readable(const Device& device) {
  return device.caps && !device.name.isEmpty();
}

// The device a number stands for: -1 maps to the default output (or the first one).
const Device* Resolve(int number) {
  std::vector<Device>& devices = KnownDevices();
  if (number == WAVE_MAPPER) {
    for (const Device& device : devices)
      if (device.isDefault && Readable(device)) return &device;
    for (const Device& device : devices)
      if (Readable(device)) return &device;
    return nullptr;
  }
  if (number < 0 || number >= static_cast<int>(devices.size())) return nullptr;
  return &devices[static_cast<size_t>(number)];
}

bool ValidPcm(const WAVEFORMATEX& format) {
  if (format.wFormatTag != WAVE_FORMAT_PCM) return false;
  if (format.nChannels < 1 || format.nChannels > 2) return false;
  if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16) return false;
  if (format.nSamplesPerSec == 0 || format.nSamplesPerSec > 0x7fffffffu) return false;
  const std::uint32_t block = format.nChannels * format.wBitsPerSample / 8u;
  return format.nBlockAlign == block &&
         static_cast<std::uint64_t>(format.nSamplesPerSec) * block == format.nAvgBytesPerSec;
}

bool Supports(const Device& device, const WAVEFORMATEX& format) {
  gst::CapsPtr wanted(gst_caps_new_simple(
      "audio/x-raw", "format", G_TYPE_STRING, format.wBitsPerSample == 8 ? "U8" : "S16LE", "layout",
      G_TYPE_STRING, "interleaved", "channels", G_TYPE_INT, static_cast<int>(format.nChannels),
      "rate", G_TYPE_INT, static_cast<int>(format.nSamplesPerSec), nullptr));
  return gst_caps_can_intersect(device.caps.get(), wanted.get());
}

struct OpenStream {
  std::shared_ptr<WaveOutStream> stream;
  std::shared_ptr<GstDevice> device;
};
struct Handles {
  std::map<HWAVEOUT, OpenStream> open;
  HWAVEOUT next = 1;
};
Handles& OpenHandles() {
  static Handles handles;
  return handles;
}

std::shared_ptr<WaveOutStream> Find(HWAVEOUT handle) {
  const auto found = OpenHandles().open.find(handle);
  return found == OpenHandles().open.end() ? nullptr : found->second.stream;
}

// A sound server moves a stream whose sink went away to another output; the tone would go on
// playing where nobody listens. Such a stream fails instead, as an unplugged card does.
void FollowRemovals() {
  static const bool connected = [] {
    QObject::connect(
        &gst::DeviceMonitor::Instance(), &gst::DeviceMonitor::DeviceRemoved,
        [](const void* removed) {
          forms::AssertWindowThread("wave device removed");
          for (const auto& [handle, open] : OpenHandles().open) {
            if (open.device.get() != removed) continue;
            qCWarning(lcWave) << "the sound device of stream" << handle << "is gone";
            open.stream->InjectError(QString::fromUtf8("устройство вывода звука отключено"));
          }
        });
    return true;
  }();
  (void)connected;
}

}  // namespace

std::uint32_t waveOutGetNumDevs() {
  ListDevices();
  return static_cast<std::uint32_t>(Devices().size());
}

MMRESULT waveOutGetDevCaps(int device, WAVEOUTCAPS* caps) {
  if (!caps) return MMSYSERR_INVALPARAM;
  const Device* resolved = Resolve(device);
  if (!resolved) return MMSYSERR_BADDEVICEID;
  if (!Readable(*resolved)) return MMSYSERR_NODRIVER;
  caps->szPname = device == WAVE_MAPPER ? QStringLiteral("Sound Mapper") : resolved->name;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutOpen(HWAVEOUT* handle, int device, const WAVEFORMATEX* format, QObject* callback,
                     std::intptr_t, std::uint32_t flags) {
  if (!format) return MMSYSERR_INVALPARAM;
  const Device* resolved = Resolve(device);
  if (!resolved) return MMSYSERR_BADDEVICEID;
  if (!Readable(*resolved)) return MMSYSERR_NODRIVER;
  if (!ValidPcm(*format) || !Supports(*resolved, *format)) return WAVERR_BADFORMAT;
  if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
  if (!handle) return MMSYSERR_INVALPARAM;
  if ((flags & CALLBACK_WINDOW) == 0) callback = nullptr;

  GstElement* sink = gst_device_create_element(resolved->device.get(), nullptr);
  if (!sink) return MMSYSERR_NODRIVER;
  const HWAVEOUT id = OpenHandles().next++;
  std::shared_ptr<WaveOutStream> stream = WaveOutStream::Open(sink, *format, callback, id);
  if (!stream) return MMSYSERR_ERROR;  // busy or gone
  FollowRemovals();
  OpenHandles().open[id] = {std::move(stream), resolved->device};
  *handle = id;
  return MMSYSERR_NOERROR;
}

bool waveOutGetToneTiming(HWAVEOUT handle, ToneTiming* timing) {
  const std::shared_ptr<WaveOutStream> stream = Find(handle);
  return stream && timing && stream->Timing(timing);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header, std::uint32_t size) {
  if (!Find(handle)) return MMSYSERR_INVALHANDLE;
  if (!header || size < kWaveHdrSize || !header->lpData) return MMSYSERR_INVALPARAM;
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header, std::uint32_t size) {
  const std::shared_ptr<WaveOutStream> stream = Find(handle);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (!header || size < kWaveHdrSize) return MMSYSERR_INVALPARAM;
  if (stream->IsQueued(header)) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header, std::uint32_t size) {
  const std::shared_ptr<WaveOutStream> stream = Find(handle);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (!header || size < kWaveHdrSize) return MMSYSERR_INVALPARAM;
  if ((header->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
  return stream->Write(header);
}

MMRESULT waveOutReset(HWAVEOUT handle) {
  const std::shared_ptr<WaveOutStream> stream = Find(handle);
  if (!stream) return MMSYSERR_INVALHANDLE;
  stream->Reset();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT handle) {
  const std::shared_ptr<WaveOutStream> stream = Find(handle);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (stream->HasQueued()) return WAVERR_STILLPLAYING;
  OpenHandles().open.erase(handle);
  stream->Close();
  return MMSYSERR_NOERROR;
}

void WaitForReleases() {
  WaveOutStream::WaitForReleases();
}

}  // namespace wave

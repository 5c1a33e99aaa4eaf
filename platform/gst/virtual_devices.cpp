#include "platform/gst/virtual_devices.h"

#include <QFile>
#include <QtEndian>
#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

#include "platform/gst/gst_util.h"
#include "platform/gst/test_camera.h"

namespace gstutil {
namespace {

struct SoundEntry {
  QString name;
  QString wavPath;
  double rate;
};

std::mutex& EntriesMutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<SoundEntry>& SoundEntries() {
  static std::vector<SoundEntry> entries;
  return entries;
}
bool& CamerasRegistered() {
  static bool registered = false;
  return registered;
}
std::atomic<int> probes{0};

// ---- GstDevice for a virtual sound output -------------------------------------------------

struct VirtualSoundDevice {
  GstDevice parent;
  gchar* wav_path;
  gdouble rate;
};
struct VirtualSoundDeviceClass {
  GstDeviceClass parent_class;
};

G_DEFINE_TYPE(VirtualSoundDevice, virtual_sound_device, GST_TYPE_DEVICE)

// Writes the sizes into a WAV file's header from the file's length. The encoder writes them
// only at the end of the stream, and a device that is released at once gets none.
void FinishWavHeader(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadWrite)) return;
  const qint64 size = file.size();
  QByteArray head = file.read(12);
  if (size < 44 || size > 0xFFFFFFFFLL || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
    return;
  auto put = [&](qint64 at, qint64 value) {
    const quint32 le = qToLittleEndian(static_cast<quint32>(value));
    file.seek(at);
    file.write(reinterpret_cast<const char*>(&le), 4);
  };
  put(4, size - 8);
  for (qint64 at = 12; at + 8 <= size;) {
    file.seek(at);
    const QByteArray chunk = file.read(8);
    const quint32 length = qFromLittleEndian<quint32>(chunk.constData() + 4);
    if (chunk.startsWith("data")) {
      put(at + 4, size - at - 8);
      return;
    }
    at += 8 + length + (length & 1);
  }
}

// `wavenc ! filesink` in a bin that completes the file's header once the file is closed.
struct WavSink {
  GstBin parent;
  gchar* path;
  GstClock* clock;  // the device's own clock when it runs off the system's rate, else null
};
struct WavSinkClass {
  GstBinClass parent_class;
};

G_DEFINE_TYPE(WavSink, wav_sink, GST_TYPE_BIN)

GstStateChangeReturn WavSinkChangeState(GstElement* element, GstStateChange transition) {
  const GstStateChangeReturn result =
      GST_ELEMENT_CLASS(wav_sink_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_READY_TO_NULL)
    FinishWavHeader(QString::fromUtf8(reinterpret_cast<WavSink*>(element)->path));
  return result;
}

GstClock* WavSinkProvideClock(GstElement* element) {
  auto* self = reinterpret_cast<WavSink*>(element);
  if (self->clock) return GST_CLOCK(gst_object_ref(self->clock));
  return GST_ELEMENT_CLASS(wav_sink_parent_class)->provide_clock(element);
}

// A monotonic system clock whose time runs `rate` times as fast. The sink's synchronisation
// waits for this clock's time, so the samples are really consumed at that rate.
GstClock* NewSkewedClock(double rate) {
  auto* clock = GST_CLOCK(gst_object_ref_sink(
      g_object_new(GST_TYPE_SYSTEM_CLOCK, "clock-type", GST_CLOCK_TYPE_MONOTONIC, nullptr)));
  const GstClockTime now = gst_clock_get_internal_time(clock);
  constexpr GstClockTime kScale = 1000000;
  gst_clock_set_calibration(clock, now, now, static_cast<GstClockTime>(std::llround(rate * kScale)),
                            kScale);
  return clock;
}

void WavSinkFinalize(GObject* object) {
  auto* self = reinterpret_cast<WavSink*>(object);
  if (self->clock) gst_object_unref(self->clock);
  g_free(self->path);
  G_OBJECT_CLASS(wav_sink_parent_class)->finalize(object);
}

void wav_sink_class_init(WavSinkClass* klass) {
  GST_ELEMENT_CLASS(klass)->change_state = WavSinkChangeState;
  GST_ELEMENT_CLASS(klass)->provide_clock = WavSinkProvideClock;
  G_OBJECT_CLASS(klass)->finalize = WavSinkFinalize;
}

void wav_sink_init(WavSink* self) {
  self->path = nullptr;
  self->clock = nullptr;
}

GstElement* VirtualSoundCreateElement(GstDevice* device, const gchar* name) {
  auto* self = reinterpret_cast<VirtualSoundDevice*>(device);
  auto* bin = static_cast<WavSink*>(g_object_new(wav_sink_get_type(), nullptr));
  ElementPtr owned(GST_ELEMENT(gst_object_ref_sink(bin)));
  bin->path = g_strdup(self->wav_path);
  if (self->rate > 0 && self->rate != 1.0) {
    // Set before the bin joins a pipeline, which then chooses this clock over the system's.
    bin->clock = NewSkewedClock(self->rate);
    GST_OBJECT_FLAG_SET(bin, GST_ELEMENT_FLAG_PROVIDE_CLOCK);
  }
  GstElement* encoder = gst_element_factory_make("wavenc", nullptr);
  GstElement* file = gst_element_factory_make("filesink", nullptr);
  if (!encoder || !file) {
    for (GstElement* e : {encoder, file})
      if (e) Adopt(e);  // released at once
    return nullptr;
  }
  // sync=true paces the stream at the pipeline clock, like a sound card would.
  g_object_set(file, "sync", TRUE, "async", FALSE, "location", self->wav_path, nullptr);
  gst_bin_add_many(GST_BIN(bin), encoder, file, nullptr);
  if (!gst_element_link(encoder, file)) return nullptr;
  const PadPtr target(gst_element_get_static_pad(encoder, "sink"));
  gst_element_add_pad(GST_ELEMENT(bin), gst_ghost_pad_new("sink", target.get()));
  if (name) gst_element_set_name(GST_ELEMENT(bin), name);
  // The caller takes a floating element, as from any factory.
  GstElement* element = owned.release();
  g_object_force_floating(G_OBJECT(element));
  return element;
}

void VirtualSoundDeviceFinalize(GObject* object) {
  g_free(reinterpret_cast<VirtualSoundDevice*>(object)->wav_path);
  G_OBJECT_CLASS(virtual_sound_device_parent_class)->finalize(object);
}

void virtual_sound_device_class_init(VirtualSoundDeviceClass* klass) {
  GST_DEVICE_CLASS(klass)->create_element = VirtualSoundCreateElement;
  G_OBJECT_CLASS(klass)->finalize = VirtualSoundDeviceFinalize;
}

void virtual_sound_device_init(VirtualSoundDevice* self) {
  self->wav_path = nullptr;
  self->rate = 1.0;
}

// ---- GstDevice for a test camera ----------------------------------------------------------

struct VirtualCameraDevice {
  GstDevice parent;
  gboolean jpeg;
};
struct VirtualCameraDeviceClass {
  GstDeviceClass parent_class;
};

G_DEFINE_TYPE(VirtualCameraDevice, virtual_camera_device, GST_TYPE_DEVICE)

GstElement* VirtualCameraCreateElement(GstDevice* device, const gchar* name) {
  return MakeTestCameraSource(reinterpret_cast<VirtualCameraDevice*>(device)->jpeg, name);
}

void virtual_camera_device_class_init(VirtualCameraDeviceClass* klass) {
  GST_DEVICE_CLASS(klass)->create_element = VirtualCameraCreateElement;
}

void virtual_camera_device_init(VirtualCameraDevice* self) {
  self->jpeg = FALSE;
}

GstDevice* NewCamera(const char* name, bool jpeg) {
  const char* sizes[] = {"width=640,height=480", "width=320,height=240", "width=1280,height=720"};
  const char* rates = "framerate={ (fraction)30/1, (fraction)15/1 }";
  const CapsPtr caps(gst_caps_new_empty());
  for (const char* size : sizes) {
    const QString structure = QStringLiteral("%1,%2,%3")
                                  .arg(jpeg ? "image/jpeg" : "video/x-raw,format=YUY2")
                                  .arg(size)
                                  .arg(rates);
    gst_caps_append(caps.get(), gst_caps_from_string(structure.toUtf8().constData()));
  }
  if (jpeg) {
    gst_caps_append(caps.get(), gst_caps_from_string(QStringLiteral("video/x-raw,format=YUY2,%1,%2")
                                                         .arg(sizes[0])
                                                         .arg(rates)
                                                         .toUtf8()
                                                         .constData()));
  }
  StructurePtr properties(gst_structure_new("properties", "strobolux.driver-text", G_TYPE_STRING,
                                            kTestCameraDriver, nullptr));
  auto* device = static_cast<VirtualCameraDevice*>(
      g_object_new(virtual_camera_device_get_type(), "display-name", name, "device-class",
                   "Video/Source", "caps", caps.get(), "properties", properties.get(), nullptr));
  device->jpeg = jpeg;
  return GST_DEVICE(gst_object_ref_sink(device));
}

// ---- GstDeviceProvider listing the registered entries -------------------------------------

struct VirtualDeviceProvider {
  GstDeviceProvider parent;
};
struct VirtualDeviceProviderClass {
  GstDeviceProviderClass parent_class;
};

G_DEFINE_TYPE(VirtualDeviceProvider, virtual_device_provider, GST_TYPE_DEVICE_PROVIDER)

// The registered devices as new device objects. Called with the entries' lock held.
GList* CurrentDevices() {
  GList* devices = nullptr;
  for (const SoundEntry& entry : SoundEntries()) {
    const CapsPtr caps(gst_caps_from_string(
        "audio/x-raw, format=(string){ S16LE, U8 }, layout=(string)interleaved, "
        "rate=(int)[ 1, 2147483647 ], channels=(int)[ 1, 2 ]"));
    const StructurePtr properties(
        gst_structure_new("properties", "is-default", G_TYPE_BOOLEAN, FALSE, nullptr));
    auto* device = static_cast<VirtualSoundDevice*>(g_object_new(
        virtual_sound_device_get_type(), "display-name", entry.name.toUtf8().constData(),
        "device-class", "Audio/Sink", "caps", caps.get(), "properties", properties.get(), nullptr));
    device->wav_path = g_strdup(entry.wavPath.toUtf8().constData());
    device->rate = entry.rate;
    devices = g_list_append(devices, gst_object_ref_sink(device));
  }
  if (CamerasRegistered()) {
    devices = g_list_append(devices, NewCamera(kTestCameraYuy2, false));
    devices = g_list_append(devices, NewCamera(kTestCameraMjpeg, true));
  }
  return devices;
}

// The provider the program's device monitor runs, while it runs; guarded by the entries' lock.
GstDeviceProvider*& RunningProvider() {
  static GstDeviceProvider* provider = nullptr;
  return provider;
}

GList* VirtualProbe(GstDeviceProvider*) {
  ++probes;
  std::lock_guard lock(EntriesMutex());
  return CurrentDevices();
}

// The devices published on the running provider, each with a reference of ours.
std::vector<DevicePtr>& Published() {
  static std::vector<DevicePtr> published;
  return published;
}

void Unpublish(GstDeviceProvider* provider) {
  for (const DevicePtr& device : Published())
    gst_device_provider_device_remove(provider, device.get());
  Published().clear();
}

// Publishes the registered devices on the running provider in place of the earlier ones,
// so that a running monitor follows them as it follows hot-plugged hardware. Called with the
// entries' lock held.
void Republish() {
  GstDeviceProvider* provider = RunningProvider();
  if (!provider) return;
  Unpublish(provider);
  GList* fresh = CurrentDevices();
  for (GList* item = fresh; item; item = item->next) {
    auto* device = GST_DEVICE(item->data);
    Published().emplace_back(GST_DEVICE(gst_object_ref(device)));
    gst_device_provider_device_add(provider, device);  // takes the list's reference
  }
  g_list_free(fresh);
}

gboolean VirtualStart(GstDeviceProvider* provider) {
  ++probes;
  std::lock_guard lock(EntriesMutex());
  RunningProvider() = provider;
  Republish();
  return TRUE;
}

void VirtualStop(GstDeviceProvider* provider) {
  std::lock_guard lock(EntriesMutex());
  if (RunningProvider() != provider) return;
  Unpublish(provider);
  RunningProvider() = nullptr;
}

void virtual_device_provider_class_init(VirtualDeviceProviderClass* klass) {
  auto* provider = GST_DEVICE_PROVIDER_CLASS(klass);
  provider->probe = VirtualProbe;
  provider->start = VirtualStart;
  provider->stop = VirtualStop;
  gst_device_provider_class_set_static_metadata(
      provider, "Strobolux virtual devices", "Audio/Sink/Video/Source",
      "Built-in devices for the demo and the tests", "Strobolux");
}

void virtual_device_provider_init(VirtualDeviceProvider*) {}

gboolean PluginInit(GstPlugin* plugin) {
  // The lowest rank a monitor still asks, so real devices (PRIMARY, SECONDARY) list first.
  return gst_device_provider_register(plugin, "stroboluxvirtualdevices", GST_RANK_MARGINAL,
                                      virtual_device_provider_get_type());
}

}  // namespace

void EnsureVirtualDeviceProvider() {
  static std::once_flag once;
  std::call_once(once, [] {
    EnsureInitialized();
    gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "stroboluxvirtual",
                               "Built-in virtual devices", PluginInit, "1.0", "LGPL", "strobolux",
                               "strobolux", "strobolux");
  });
}

void RegisterVirtualSoundDevice(const QString& name, const QString& wavPath, double rate) {
  EnsureVirtualDeviceProvider();
  std::lock_guard lock(EntriesMutex());
  SoundEntries().push_back({name, wavPath, rate});
  Republish();
}

int VirtualDeviceProbes() {
  return probes.load();
}

void ClearVirtualSoundDevices() {
  std::lock_guard lock(EntriesMutex());
  SoundEntries().clear();
  Republish();
}

void RegisterVirtualCameras() {
  EnsureVirtualDeviceProvider();
  std::lock_guard lock(EntriesMutex());
  CamerasRegistered() = true;
  Republish();
}

void ClearVirtualCameras() {
  std::lock_guard lock(EntriesMutex());
  CamerasRegistered() = false;
  Republish();
}

}  // namespace gstutil

#include "platform/gst/virtual_devices.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/gst/gst_util.h"
#include "platform/gst/virtual_cameras.h"
#include "platform/gst/virtual_sound.h"

namespace gst {

namespace {

struct SoundEntry {
  QString name;
  QString wavPath;
  double rate;
  int maxChannels;
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
bool& MjpegOnlyCameraRegistered() {
  static bool registered = false;
  return registered;
}
std::atomic<int> probes{0};

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
  for (const SoundEntry& entry : SoundEntries())
    devices = g_list_append(
        devices, NewVirtualSoundDevice(entry.name, entry.wavPath, entry.rate, entry.maxChannels));
  if (CamerasRegistered()) {
    devices = g_list_append(devices, NewVirtualCamera(kTestCameraYuy2, VirtualCameraKind::Yuy2));
    devices = g_list_append(devices, NewVirtualCamera(kTestCameraMjpeg, VirtualCameraKind::Mjpeg));
  }
  if (MjpegOnlyCameraRegistered())
    devices = g_list_append(devices,
                            NewVirtualCamera(kTestCameraMjpegOnly, VirtualCameraKind::MjpegOnly));
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

void RegisterVirtualSoundDevice(const QString& name, const QString& wavPath, double rate,
                                int maxChannels) {
  EnsureVirtualDeviceProvider();
  std::lock_guard lock(EntriesMutex());
  SoundEntries().push_back({name, wavPath, rate, std::clamp(maxChannels, 1, 2)});
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

void RegisterVirtualMjpegOnlyCamera() {
  EnsureVirtualDeviceProvider();
  std::lock_guard lock(EntriesMutex());
  MjpegOnlyCameraRegistered() = true;
  Republish();
}

void ClearVirtualCameras() {
  std::lock_guard lock(EntriesMutex());
  CamerasRegistered() = false;
  MjpegOnlyCameraRegistered() = false;
  Republish();
}

}  // namespace gst

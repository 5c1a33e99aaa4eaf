#include "platform/gst/device_monitor.h"

#include <memory>

#include "platform/gst/logging.h"
#include "platform/gst/virtual_devices.h"

namespace gst {

namespace {

QString Property(const GstStructure* properties, const char* name) {
  if (!properties || !gst_structure_has_field(properties, name)) return {};
  const GValue* value = gst_structure_get_value(properties, name);
  if (G_VALUE_HOLDS_STRING(value)) return QString::fromUtf8(g_value_get_string(value));
  // PipeWire's serials come as numbers in some versions, as text in others.
  GValue text = G_VALUE_INIT;
  g_value_init(&text, G_TYPE_STRING);
  QString result;
  if (g_value_transform(value, &text)) result = QString::fromUtf8(g_value_get_string(&text));
  g_value_unset(&text);
  return result;
}

DeviceReport::Api ApiOf(GstDevice* device) {
  ObjectPtr<GstObject> parent(gst_object_get_parent(GST_OBJECT(device)));
  QString provider;
  if (parent && GST_IS_DEVICE_PROVIDER(parent.get())) {
    if (GstDeviceProviderFactory* factory =
            gst_device_provider_get_factory(GST_DEVICE_PROVIDER(parent.get())))
      provider = QString::fromUtf8(GST_OBJECT_NAME(factory));
  }
  if (provider == QLatin1String("pulsedeviceprovider")) return DeviceReport::Api::Pulse;
  if (provider == QLatin1String("pipewiredeviceprovider")) return DeviceReport::Api::PipeWire;
  if (provider == QLatin1String("v4l2deviceprovider")) return DeviceReport::Api::V4l2;
  return DeviceReport::Api::Other;
}

bool Same(const QString& a, const QString& b) {
  return !a.isEmpty() && a == b;
}

}  // namespace

DeviceReport ReportOf(GstDevice* device) {
  DeviceReport report;
  report.api = ApiOf(device);
  const CharPtr name(gst_device_get_display_name(device));
  report.name = QString::fromUtf8(name ? name.get() : "");
  const StructurePtr properties(gst_device_get_properties(device));
  report.serial = Property(properties.get(), "object.serial");
  report.nodeName = Property(properties.get(), "node.name");
  if (report.api == DeviceReport::Api::V4l2) {
    report.v4l2Path = Property(properties.get(), "device.path");
  } else if (report.api == DeviceReport::Api::PipeWire) {
    report.v4l2Path = Property(properties.get(), "api.v4l2.path");
    const QString objectPath = Property(properties.get(), "object.path");
    if (report.v4l2Path.isEmpty() && objectPath.startsWith(QLatin1String("v4l2:")))
      report.v4l2Path = objectPath.mid(5);
  }
  return report;
}

std::vector<ListedDevice> OnePerDevice(const std::vector<DeviceReport>& reports) {
  using Api = DeviceReport::Api;
  std::vector<ListedDevice> listed;
  std::vector<QString> names(reports.size());
  std::vector<bool> dropped(reports.size(), false);
  for (std::size_t i = 0; i < reports.size(); ++i) names[i] = reports[i].name;
  for (std::size_t p = 0; p < reports.size(); ++p) {
    const DeviceReport& pipewire = reports[p];
    if (pipewire.api != Api::PipeWire) continue;
    for (std::size_t o = 0; o < reports.size(); ++o) {
      const DeviceReport& other = reports[o];
      if (o == p || dropped[o]) continue;
      if (other.api == Api::V4l2 && Same(other.v4l2Path, pipewire.v4l2Path)) {
        names[o] = pipewire.name;
      } else if (other.api == Api::Pulse &&
                 (Same(other.serial, pipewire.serial) || Same(other.nodeName, pipewire.nodeName))) {
        // pipewire-pulse describes the sink with PipeWire's own description already.
      } else {
        continue;
      }
      dropped[p] = true;
      break;
    }
  }
  for (std::size_t i = 0; i < reports.size(); ++i)
    if (!dropped[i]) listed.push_back({i, names[i]});
  return listed;
}

DeviceMonitor& DeviceMonitor::Instance() {
  // Never destroyed, never stopped: stopping the providers at the end (PipeWire's thread loop,
  // PulseAudio's main loop) corrupted the heap now and then (Debian 12's PipeWire 0.3.65), and
  // their threads end with the process anyway.
  static DeviceMonitor* const monitor = std::make_unique<DeviceMonitor>(Private{}).release();
  return *monitor;
}

DeviceMonitor::DeviceMonitor(Private) {
  EnsureVirtualDeviceProvider();
  monitor_.reset(gst_device_monitor_new());
  const CapsPtr audio(gst_caps_new_empty_simple("audio/x-raw"));
  gst_device_monitor_add_filter(monitor_.get(), "Audio/Sink", audio.get());
  gst_device_monitor_add_filter(monitor_.get(), "Video/Source", nullptr);
  const BusPtr bus(gst_device_monitor_get_bus(monitor_.get()));
  gst_bus_set_sync_handler(bus.get(), &DeviceMonitor::OnMessage, this, nullptr);
}

void DeviceMonitor::Start() {
  if (started_) return;
  // False when no provider could start (no server, no udev): listings then probe instead.
  started_ = gst_device_monitor_start(monitor_.get());
  if (!started_) qCInfo(lcGst) << "no device provider could start; devices are probed";
}

std::vector<KnownDevice> DeviceMonitor::Devices(Kind kind) {
  Start();
  // A provider that could not start (no sound server) would be probed again by every
  // listing, and PulseAudio's probe leaves descriptors behind: the list is read again only
  // when a provider reported a change.
  if (dirty_.exchange(false)) {
    known_.clear();
    const ObjectList found(gst_device_monitor_get_devices(monitor_.get()));
    for (GList* item = found.get(); item; item = item->next) {
      auto* device = GST_DEVICE(item->data);
      known_.push_back({DevicePtr(GST_DEVICE(gst_object_ref(device))), ReportOf(device)});
    }
  }
  const char* wanted = kind == Kind::Sound ? "Audio/Sink" : "Video/Source";
  std::vector<const Reading*> readings;
  std::vector<DeviceReport> reports;
  for (const Reading& reading : known_) {
    if (!gst_device_has_classes(reading.device.get(), wanted)) continue;
    readings.push_back(&reading);
    reports.push_back(reading.report);
  }
  std::vector<KnownDevice> known;
  for (const ListedDevice& row : OnePerDevice(reports)) {
    const Reading& reading = *readings[row.report];
    known.push_back(
        {Share(GST_DEVICE(gst_object_ref(reading.device.get()))), row.name, reading.report.api});
  }
  return known;
}

BusPtr DeviceMonitor::Bus() const {
  return BusPtr(gst_device_monitor_get_bus(monitor_.get()));
}

GstBusSyncReply DeviceMonitor::OnMessage(GstBus*, GstMessage* message, gpointer data) {
  // A handler that drops a message owns it (and a removal's message holds its device).
  const MessagePtr owned(message);
  auto* self = static_cast<DeviceMonitor*>(data);
  self->dirty_ = true;
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_REMOVED) {
    GstDevice* device = nullptr;
    gst_message_parse_device_removed(message, &device);
    const DevicePtr owned(device);
    const void* identity = device;
    qCInfo(lcGst) << "device removed:" << ReportOf(device).name;
    QMetaObject::invokeMethod(
        self, [self, identity] { emit self->DeviceRemoved(identity); }, Qt::QueuedConnection);
  }
  return GST_BUS_DROP;  // read here, so nothing piles up on a bus nobody pops
}

}  // namespace gst

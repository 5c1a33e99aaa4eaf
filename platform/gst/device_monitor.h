#pragma once
// The program's one device monitor: sound outputs ("Audio/Sink") and cameras ("Video/Source")
// as GStreamer's providers report them, followed while the program runs, so that a listing
// asks nothing of the sound server or the cameras. A device that two providers report
// (PulseAudio and PipeWire for a sink, V4L2 and PipeWire for a webcam) is listed once.

#include <gst/gst.h>

#include <QObject>
#include <QString>
#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "platform/gst/gst_util.h"

namespace gst {

// What tells two providers' reports of one device apart, read from the device's properties.
struct DeviceReport {
  enum class Api { Other, Pulse, PipeWire, V4l2 };
  Api api = Api::Other;
  QString name;      // display name
  QString serial;    // PipeWire's "object.serial", which pipewire-pulse passes on to its sinks
  QString nodeName;  // PipeWire's "node.name", pipewire-pulse's sink name
  QString v4l2Path;  // the V4L2 node behind a camera: V4L2's "device.path", PipeWire's
                     // "api.v4l2.path" (or "object.path" = "v4l2:PATH")
};

// The report that serves a device, and the name it is listed under.
struct ListedDevice {
  std::size_t report = 0;
  QString name;
};

// One row per device, in the reports' order. A sink that PulseAudio and PipeWire both report
// is served by PulseAudio (its caps answer the 16-bit mono question, it names the default
// output, and the same path works on a PulseAudio-only desktop). A webcam that V4L2 and
// PipeWire both report is served by V4L2 (its controls and every format stay reachable),
// under the name PipeWire gives it, which is the one the desktop shows.
std::vector<ListedDevice> OnePerDevice(const std::vector<DeviceReport>& reports);

DeviceReport ReportOf(GstDevice* device);

struct KnownDevice {
  std::shared_ptr<GstDevice> device;
  QString name;
  DeviceReport::Api api = DeviceReport::Api::Other;
};

class DeviceMonitor : public QObject {
  Q_OBJECT

 public:
  enum class Kind { Sound, Camera };

  // The monitor, started on first use and running until the process ends.
  static DeviceMonitor& Instance();
  struct Private {};
  explicit DeviceMonitor(Private);

  // The devices known now, one row per device, real ones first (the providers' ranks).
  std::vector<KnownDevice> Devices(Kind kind);
  // The bus the providers report on (a new reference): for tests.
  BusPtr Bus() const;

 signals:
  // A provider reported a device gone; the pointer only identifies it (compare, never use).
  void DeviceRemoved(const void* device);

 private:
  static GstBusSyncReply OnMessage(GstBus* bus, GstMessage* message, gpointer data);
  void Start();

  struct Reading {
    DevicePtr device;
    DeviceReport report;
  };

  ObjectPtr<GstDeviceMonitor> monitor_;
  bool started_ = false;
  std::atomic<bool> dirty_{true};  // the devices must be read (again); set by providers' threads
  std::vector<Reading> known_;     // every device of the latest reading
};

}  // namespace gst

#pragma once
// The video-device library: the devices of a device category, each with its name and a way
// to put its capture filter into a graph.

#include <QString>
#include <memory>
#include <vector>

#include "platform/graph/graph.h"

namespace graph {

// The video input device category.
inline constexpr const char* kVideoInputDeviceCategory = "{860BB310-5D01-11d0-BD3B-00A0C911CE86}";

class CaptureDevice {
 public:
  virtual ~CaptureDevice() = default;
  virtual QString DeviceName() const = 0;
  // Puts the device's capture filter into the graph and returns it.
  virtual std::shared_ptr<IFilterInfo> AddToGraph(FilgraphManager& graph) = 0;
};

// A camera of the camera list. Its filter's first output pin is "Capture", in the camera's
// preferred format (PreferredOrder); a camera offering JPEG also has a "Still" pin.
class CameraCaptureDevice : public CaptureDevice {
 public:
  explicit CameraCaptureDevice(gst::CameraDevice camera) : camera_(std::move(camera)) {}
  QString DeviceName() const override { return camera_.name; }
  std::shared_ptr<IFilterInfo> AddToGraph(FilgraphManager& graph) override;
  const gst::CameraDevice& Camera() const { return camera_; }

 private:
  gst::CameraDevice camera_;
};

class DeviceCollection {
 public:
  explicit DeviceCollection(std::vector<std::shared_ptr<CaptureDevice>> devices = {})
      : devices_(std::move(devices)) {}
  std::int32_t DeviceCount() const { return static_cast<std::int32_t>(devices_.size()); }
  // Raises invalid argument (5) for an index outside the collection.
  std::shared_ptr<CaptureDevice> DeviceItem(std::int32_t index) const;

 private:
  std::vector<std::shared_ptr<CaptureDevice>> devices_;
};

class VideoDeviceEnumerator {
 public:
  // The cameras for the video input category, in the camera list's order; any other
  // category has no devices.
  std::shared_ptr<DeviceCollection> Devices(const QString& category) const;
};

// The camera's formats with the preferred one first: the one remembered for the camera or
// forced for the process (gst::PreferredFormat), else MJPEG 640 x 480, the first MJPEG, raw
// 640 x 480 or the first raw, in that order.
std::vector<gst::CameraFormat> PreferredOrder(const gst::CameraDevice& camera);

}  // namespace graph

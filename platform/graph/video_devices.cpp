#include "platform/graph/video_devices.h"

#include <optional>

#include "platform/forms/runtime_error.h"
#include "platform/gst/format_choice.h"

namespace graph {

std::vector<gst::CameraFormat> PreferredOrder(const gst::CameraDevice& camera) {
  // The format remembered for the camera or forced for the run comes first, its rate first.
  if (std::optional<gst::CameraFormat> chosen = gst::PreferredFormat(camera)) {
    std::vector<gst::CameraFormat> formats{*chosen};
    for (const gst::CameraFormat& format : camera.formats)
      if (!format.SameFormatAs(*chosen)) formats.push_back(format);
    return formats;
  }
  const gst::CameraFormat* preferred = camera.Find(false, 640, 480);
  if (!preferred) preferred = camera.FirstJpeg();
  if (!preferred) preferred = camera.Find(true, 640, 480);
  if (!preferred) preferred = camera.FirstRaw();
  std::vector<gst::CameraFormat> formats;
  if (preferred) formats.push_back(preferred->AtDefaultRate());
  for (const gst::CameraFormat& format : camera.formats)
    if (&format != preferred) formats.push_back(format);
  return formats;
}

std::shared_ptr<IFilterInfo> CameraCaptureDevice::AddToGraph(FilgraphManager& graph) {
  std::shared_ptr<IFilterInfo> filter = graph.AddFilter(camera_.name);
  filter->SetCamera(camera_);
  const std::vector<gst::CameraFormat> formats = PreferredOrder(camera_);
  if (formats.empty()) return filter;  // nothing it could deliver: no output pin
  filter->AddPin(QStringLiteral("Capture"), PINDIR_OUTPUT, formats);
  if (camera_.FirstJpeg()) filter->AddPin(QStringLiteral("Still"), PINDIR_OUTPUT, formats);
  return filter;
}

std::shared_ptr<CaptureDevice> DeviceCollection::DeviceItem(std::int32_t index) const {
  if (index < 0 || index >= DeviceCount())
    forms::Raise(forms::kInvalidProcedureCall, QStringLiteral("DeviceCollection"));
  return devices_[static_cast<std::size_t>(index)];
}

std::shared_ptr<DeviceCollection> VideoDeviceEnumerator::Devices(const QString& category) const {
  std::vector<std::shared_ptr<CaptureDevice>> devices;
  if (category.compare(QLatin1String(kVideoInputDeviceCategory), Qt::CaseInsensitive) == 0) {
    for (gst::CameraDevice& camera : gst::ListCameras())
      devices.push_back(std::make_shared<CameraCaptureDevice>(std::move(camera)));
  }
  return std::make_shared<DeviceCollection>(std::move(devices));
}

}  // namespace graph

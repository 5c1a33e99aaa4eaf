#include "platform/gst/camera_devices.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/gst/device_monitor.h"
#include "platform/gst/gst_util.h"

namespace gst {
namespace {

QString StringProperty(const GstStructure* properties, const char* name) {
  if (!properties) return {};
  const gchar* value = gst_structure_get_string(properties, name);
  return value ? QString::fromUtf8(value) : QString();
}

QString UIntProperty(const GstStructure* properties, const char* name) {
  guint value = 0;
  if (!properties || !gst_structure_get_uint(properties, name, &value)) return {};
  // V4L2 packs the version as major << 16 | minor << 8 | patch.
  return QStringLiteral("%1.%2.%3").arg(value >> 16).arg((value >> 8) & 0xff).arg(value & 0xff);
}

void AddRate(std::vector<FrameRate>& rates, const FrameRate& rate) {
  if (rate.numerator > 0 && std::find(rates.begin(), rates.end(), rate) == rates.end())
    rates.push_back(rate);
}

FrameRate RateOf(const GValue* fraction) {
  return {gst_value_get_fraction_numerator(fraction), gst_value_get_fraction_denominator(fraction)};
}

void AddRate(std::vector<FrameRate>& rates, const GValue* value) {
  if (GST_VALUE_HOLDS_FRACTION(value)) {
    AddRate(rates, RateOf(value));
  } else if (GST_VALUE_HOLDS_LIST(value)) {
    for (guint i = 0; i < gst_value_list_get_size(value); ++i)
      AddRate(rates, gst_value_list_get_value(value, i));
  } else if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
    // A continuous range (PipeWire's software and libcamera cameras): the usual rates in it,
    // or its ends when none is.
    const FrameRate low = RateOf(gst_value_get_fraction_range_min(value));
    const FrameRate high = RateOf(gst_value_get_fraction_range_max(value));
    const std::size_t before = rates.size();
    for (const int common : {30, 25, 15}) {
      if (gst_util_fraction_compare(common, 1, low.numerator, low.denominator) >= 0 &&
          gst_util_fraction_compare(common, 1, high.numerator, high.denominator) <= 0)
        AddRate(rates, FrameRate{common, 1});
    }
    if (rates.size() == before) {
      AddRate(rates, high);
      AddRate(rates, low);
    }
  }
}

// The sizes a structure offers: its one width and height, or for ranges (a camera that scales
// to any size) the usual camera sizes that fit in them.
std::vector<std::pair<int, int>> SizesOf(const GstStructure* s) {
  const GValue* width = gst_structure_get_value(s, "width");
  const GValue* height = gst_structure_get_value(s, "height");
  if (!width || !height) return {};
  if (G_VALUE_HOLDS_INT(width) && G_VALUE_HOLDS_INT(height))
    return {{g_value_get_int(width), g_value_get_int(height)}};
  auto fits = [](const GValue* range, int value) {
    if (G_VALUE_HOLDS_INT(range)) return g_value_get_int(range) == value;
    return GST_VALUE_HOLDS_INT_RANGE(range) && gst_value_get_int_range_min(range) <= value &&
           value <= gst_value_get_int_range_max(range);
  };
  std::vector<std::pair<int, int>> sizes;
  for (const auto& [w, h] : {std::pair{640, 480}, std::pair{320, 240}, std::pair{800, 600},
                             std::pair{1280, 720}, std::pair{1920, 1080}})
    if (fits(width, w) && fits(height, h)) sizes.emplace_back(w, h);
  return sizes;  // lists of sizes are not how cameras describe themselves
}

std::vector<QString> StringValues(const GValue* value) {
  if (!value) return {};
  if (G_VALUE_HOLDS_STRING(value)) return {QString::fromUtf8(g_value_get_string(value))};
  std::vector<QString> values;
  if (GST_VALUE_HOLDS_LIST(value)) {
    for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
      const GValue* item = gst_value_list_get_value(value, i);
      if (G_VALUE_HOLDS_STRING(item)) values.push_back(QString::fromUtf8(g_value_get_string(item)));
    }
  }
  return values;
}

}  // namespace

QString CameraFormat::Describe() const {
  return QStringLiteral("%1 %2 x %3")
      .arg(IsJpeg() ? QStringLiteral("MJPEG") : format)
      .arg(width)
      .arg(height);
}

GstCaps* CameraFormat::MakeCaps(const FrameRate* rate) const {
  GstCaps* caps = gst_caps_new_simple(media.toUtf8().constData(), "width", G_TYPE_INT, width,
                                      "height", G_TYPE_INT, height, nullptr);
  if (IsRaw())
    gst_caps_set_simple(caps, "format", G_TYPE_STRING, format.toUtf8().constData(), nullptr);
  const FrameRate* chosen = rate ? rate : (rates.empty() ? nullptr : &rates.front());
  if (chosen)
    gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, chosen->numerator,
                        chosen->denominator, nullptr);
  return caps;
}

CameraFormat CameraFormat::AtDefaultRate() const {
  auto usual = [](const FrameRate& r) {
    return r.denominator > 0 && std::int64_t{r.numerator} <= 30 * std::int64_t{r.denominator};
  };
  // A usual rate beats one above 30; among usual ones the higher wins, among the rest the lower.
  auto better = [&](const FrameRate& a, const FrameRate& b) {
    if (usual(a) != usual(b)) return usual(a);
    return usual(a) ? a.PerSecond() > b.PerSecond() : a.PerSecond() < b.PerSecond();
  };
  CameraFormat format = *this;
  if (rates.empty()) return format;
  const auto chosen = std::min_element(format.rates.begin(), format.rates.end(), better);
  std::rotate(format.rates.begin(), chosen, chosen + 1);
  return format;
}

std::vector<CameraFormat> FormatsOf(const GstCaps* caps) {
  std::vector<CameraFormat> formats;
  if (!caps || gst_caps_is_any(caps)) return formats;
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    const GstStructure* s = gst_caps_get_structure(caps, i);
    const QString media = QString::fromUtf8(gst_structure_get_name(s));
    if (media != QLatin1String("video/x-raw") && media != QLatin1String("image/jpeg")) continue;
    std::vector<QString> pixel_formats = StringValues(gst_structure_get_value(s, "format"));
    if (media == QLatin1String("image/jpeg")) pixel_formats = {QString()};
    std::vector<FrameRate> rates;
    if (const GValue* rate = gst_structure_get_value(s, "framerate")) AddRate(rates, rate);
    std::sort(rates.begin(), rates.end(),
              [](const FrameRate& a, const FrameRate& b) { return a.PerSecond() > b.PerSecond(); });
    for (const std::pair<int, int>& size : SizesOf(s)) {
      const int width = size.first;
      const int height = size.second;
      for (const QString& pixel_format : pixel_formats) {
        auto same = std::find_if(formats.begin(), formats.end(), [&](const CameraFormat& f) {
          return f.media == media && f.format == pixel_format && f.width == width &&
                 f.height == height;
        });
        if (same != formats.end()) {
          for (const FrameRate& r : rates)
            if (std::find(same->rates.begin(), same->rates.end(), r) == same->rates.end())
              same->rates.push_back(r);
          continue;
        }
        formats.push_back({media, pixel_format, width, height, rates});
      }
    }
  }
  return formats;
}

bool CameraDevice::HasRaw() const {
  return FirstRaw() != nullptr;
}

bool CameraDevice::HasOpenable() const {
  return HasRaw() || FirstJpeg() != nullptr;
}

const CameraFormat* CameraDevice::Find(bool raw, int width, int height) const {
  for (const CameraFormat& f : formats)
    if (f.IsRaw() == raw && f.width == width && f.height == height) return &f;
  return nullptr;
}

const CameraFormat* CameraDevice::FirstRaw() const {
  for (const CameraFormat& f : formats)
    if (f.IsRaw()) return &f;
  return nullptr;
}

const CameraFormat* CameraDevice::FirstJpeg() const {
  for (const CameraFormat& f : formats)
    if (f.IsJpeg()) return &f;
  return nullptr;
}

std::vector<CameraDevice> ListCameras() {
  std::vector<CameraDevice> cameras;
  for (const KnownDevice& known : DeviceMonitor::Instance().Devices(DeviceMonitor::Kind::Camera)) {
    GstDevice* device = known.device.get();
    CameraDevice camera;
    camera.name = known.name;
    StructurePtr properties(gst_device_get_properties(device));
    camera.path = StringProperty(properties.get(), "device.path");
    camera.driver = StringProperty(properties.get(), "v4l2.device.driver");
    const QString card = StringProperty(properties.get(), "v4l2.device.card");
    const QString version = UIntProperty(properties.get(), "v4l2.device.version");
    camera.version = StringProperty(properties.get(), "strobolux.driver-text");
    camera.viaPipeWire = known.api == DeviceReport::Api::PipeWire;
    if (camera.version.isEmpty() && camera.viaPipeWire) camera.version = QStringLiteral("PipeWire");
    if (camera.version.isEmpty()) {
      camera.version = camera.driver.isEmpty() ? card : camera.driver;
      if (!version.isEmpty()) camera.version += QStringLiteral(" ") + version;
    }
    CapsPtr caps(gst_device_get_caps(device));
    camera.formats = FormatsOf(caps.get());
    camera.device = known.device;
    cameras.push_back(std::move(camera));
  }
  return cameras;
}

}  // namespace gst

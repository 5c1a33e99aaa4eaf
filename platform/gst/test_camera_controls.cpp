#include "platform/gst/test_camera_controls.h"

#include <linux/videodev2.h>

#include <QString>
#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/gst/camera_controls.h"
#include "platform/gst/gst_util.h"
#include "platform/gst/test_camera.h"

namespace gst {
namespace {

// The source element itself, or the first one inside a bin.
ElementPtr FindTestCamera(GstElement* element) {
  if (!element) return nullptr;
  if (IsTestCameraSource(element)) return ElementPtr(GST_ELEMENT(gst_object_ref(element)));
  if (!GST_IS_BIN(element)) return nullptr;
  ElementPtr found;
  GstIterator* items = gst_bin_iterate_recurse(GST_BIN(element));
  GValue item = G_VALUE_INIT;
  bool more = true;
  while (more && !found) {
    switch (gst_iterator_next(items, &item)) {
      case GST_ITERATOR_OK: {
        auto* child = GST_ELEMENT(g_value_get_object(&item));
        if (IsTestCameraSource(child)) found.reset(GST_ELEMENT(gst_object_ref(child)));
        g_value_reset(&item);
        break;
      }
      case GST_ITERATOR_RESYNC:
        gst_iterator_resync(items);
        break;
      default:
        more = false;
    }
  }
  g_value_unset(&item);
  gst_iterator_free(items);
  return found;
}

// The colour balance channels under the ids and names a webcam gives them.
struct BalanceControl {
  std::uint32_t id;
  const char* name;
};
constexpr BalanceControl kBalance[] = {{V4L2_CID_BRIGHTNESS, "Brightness"},
                                       {V4L2_CID_CONTRAST, "Contrast"},
                                       {V4L2_CID_SATURATION, "Saturation"},
                                       {V4L2_CID_HUE, "Hue"}};

constexpr int kExposureUnitsPerMs = 10;  // V4L2 counts the exposure time in 100 us
constexpr int kTemperatureStep = 10;

// A driver's controls over the element's properties: the same ranges, and the same refusals
// (a value out of range, a time or temperature the automatic mode holds).
class TestCameraControls : public CameraControls {
 public:
  explicit TestCameraControls(ElementPtr camera)
      : camera_(std::move(camera)), balance_(camera_.get()) {
    for (const ControlInfo& info : balance_.List())
      for (const BalanceControl& control : kBalance)
        if (info.name.compare(QLatin1String(control.name), Qt::CaseInsensitive) == 0)
          channels_.emplace_back(control.id, info);
  }

  std::vector<ControlInfo> List() override {
    std::vector<ControlInfo> controls;
    for (const BalanceControl& control : kBalance)
      if (const ControlInfo* channel = Channel(control.id)) {
        ControlInfo info = *channel;
        info.id = control.id;
        info.name = QString::fromLatin1(control.name);
        controls.push_back(std::move(info));
      }
    ControlInfo exposureAuto =
        Make(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure", ControlInfo::Menu, V4L2_EXPOSURE_MANUAL,
             V4L2_EXPOSURE_APERTURE_PRIORITY, V4L2_EXPOSURE_MANUAL);
    exposureAuto.menu = {
        {V4L2_EXPOSURE_MANUAL, QStringLiteral("Manual Mode")},
        {V4L2_EXPOSURE_APERTURE_PRIORITY, QStringLiteral("Aperture Priority Mode")}};
    controls.push_back(std::move(exposureAuto));
    controls.push_back(Make(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure Time, Absolute",
                            ControlInfo::Integer, 1, kMaxExposure, ConfiguredExposure()));
    controls.push_back(Make(V4L2_CID_EXPOSURE_AUTO_PRIORITY, "Exposure, Dynamic Framerate",
                            ControlInfo::Boolean, 0, 1, 0));
    controls.push_back(Make(V4L2_CID_GAIN, "Gain", ControlInfo::Integer, 0, kTestCameraMaxGain, 0));
    controls.push_back(Make(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Automatic",
                            ControlInfo::Boolean, 0, 1, 1));
    ControlInfo temperature =
        Make(V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature", ControlInfo::Integer,
             kTestCameraWarmestK, kTestCameraColdestK, kTestCameraNeutralK);
    temperature.step = kTemperatureStep;
    controls.push_back(std::move(temperature));
    return controls;
  }

  std::optional<int> Get(std::uint32_t id) override {
    GObject* camera = G_OBJECT(camera_.get());
    switch (id) {
      case V4L2_CID_EXPOSURE_AUTO:
        return Flag("exposure-auto") ? V4L2_EXPOSURE_APERTURE_PRIORITY : V4L2_EXPOSURE_MANUAL;
      case V4L2_CID_EXPOSURE_ABSOLUTE: {
        gdouble exposure = 0;
        g_object_get(camera, "exposure-ms", &exposure, nullptr);
        return static_cast<int>(std::lround(exposure * kExposureUnitsPerMs));
      }
      case V4L2_CID_EXPOSURE_AUTO_PRIORITY:
        return Flag("exposure-priority") ? 1 : 0;
      case V4L2_CID_GAIN:
        return Number("gain");
      case V4L2_CID_AUTO_WHITE_BALANCE:
        return Flag("white-balance-auto") ? 1 : 0;
      case V4L2_CID_WHITE_BALANCE_TEMPERATURE:
        return Number("white-balance-temperature");
      default:
        if (const ControlInfo* channel = Channel(id)) return balance_.Get(channel->id);
        return std::nullopt;
    }
  }

  bool Set(std::uint32_t id, int value) override {
    GObject* camera = G_OBJECT(camera_.get());
    switch (id) {
      case V4L2_CID_EXPOSURE_AUTO:
        if (value != V4L2_EXPOSURE_MANUAL && value != V4L2_EXPOSURE_APERTURE_PRIORITY) return false;
        g_object_set(camera, "exposure-auto",
                     static_cast<gboolean>(value == V4L2_EXPOSURE_APERTURE_PRIORITY), nullptr);
        return true;
      case V4L2_CID_EXPOSURE_ABSOLUTE:
        if (value < 1 || value > kMaxExposure || Flag("exposure-auto")) return false;
        g_object_set(camera, "exposure-ms", static_cast<double>(value) / kExposureUnitsPerMs,
                     nullptr);
        return true;
      case V4L2_CID_EXPOSURE_AUTO_PRIORITY:
        return SetFlag("exposure-priority", value);
      case V4L2_CID_GAIN:
        if (value < 0 || value > kTestCameraMaxGain) return false;
        g_object_set(camera, "gain", value, nullptr);
        return true;
      case V4L2_CID_AUTO_WHITE_BALANCE:
        return SetFlag("white-balance-auto", value);
      case V4L2_CID_WHITE_BALANCE_TEMPERATURE: {
        if (value < kTestCameraWarmestK || value > kTestCameraColdestK ||
            Flag("white-balance-auto"))
          return false;
        // A driver rounds to the step.
        const int steps = (value - kTestCameraWarmestK + kTemperatureStep / 2) / kTemperatureStep;
        g_object_set(camera, "white-balance-temperature",
                     std::min(kTestCameraColdestK, kTestCameraWarmestK + steps * kTemperatureStep),
                     nullptr);
        return true;
      }
      default:
        if (const ControlInfo* channel = Channel(id)) return balance_.Set(channel->id, value);
        return false;
    }
  }

 private:
  static constexpr int kMaxExposure = 10000;  // 1 s

  static ControlInfo Make(std::uint32_t id, const char* name, ControlInfo::Type type, int minimum,
                          int maximum, int defaultValue) {
    ControlInfo info;
    info.id = id;
    info.name = QString::fromLatin1(name);
    info.type = type;
    info.minimum = minimum;
    info.maximum = maximum;
    info.defaultValue = defaultValue;
    return info;
  }

  // The colour balance channel behind a V4L2 id (its own id is the channel's).
  const ControlInfo* Channel(std::uint32_t id) const {
    for (const auto& [v4l2, info] : channels_)
      if (v4l2 == id) return &info;
    return nullptr;
  }

  // The exposure the picture is as drawn at.
  int ConfiguredExposure() const {
    gdouble exposure = 0;
    g_object_get(camera_.get(), "configured-exposure-ms", &exposure, nullptr);
    const auto units = static_cast<int>(std::lround(exposure * kExposureUnitsPerMs));
    return std::clamp(units, 1, kMaxExposure);
  }

  bool Flag(const char* property) const {
    gboolean on = FALSE;
    g_object_get(camera_.get(), property, &on, nullptr);
    return on;
  }
  int Number(const char* property) const {
    gint value = 0;
    g_object_get(camera_.get(), property, &value, nullptr);
    return value;
  }
  bool SetFlag(const char* property, int value) {
    if (value != 0 && value != 1) return false;
    g_object_set(camera_.get(), property, static_cast<gboolean>(value), nullptr);
    return true;
  }

  ElementPtr camera_;
  ColorBalanceControls balance_;
  std::vector<std::pair<std::uint32_t, ControlInfo>> channels_;
};

}  // namespace

std::unique_ptr<CameraControls> TestCameraControlsOf(GstElement* source) {
  ElementPtr camera = FindTestCamera(source);
  if (!camera) return nullptr;
  return std::make_unique<TestCameraControls>(std::move(camera));
}

}  // namespace gst

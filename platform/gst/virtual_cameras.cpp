#include "platform/gst/virtual_cameras.h"

#include <algorithm>
#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "platform/gst/gst_util.h"
#include "platform/gst/test_camera.h"
#include "platform/gst/test_scene.h"
#include "platform/gst/virtual_devices.h"

namespace gst {

namespace {

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

struct Rate {
  int numerator;
  int denominator;
};

// What the test cameras offer, as USB webcams do: JPEG at every size up to 60 frames a second
// and 29.97 (30000/1001) beside 30, raw frames only as fast as the bus carries them, so the
// large sizes only at low rates. Rates the scene's settings name apply to every format instead.
std::vector<Rate> RatesOf(bool jpeg, int width, const std::vector<Rate>& asked) {
  if (!asked.empty()) return asked;
  if (jpeg || width <= 640) return {{60, 1}, {30, 1}, {30000, 1001}, {15, 1}};
  if (width <= 1280) return {{10, 1}, {5, 1}};
  return {{5, 1}};
}

void Offer(GstCaps* caps, bool jpeg, int width, int height, const std::vector<Rate>& rates) {
  GstStructure* s =
      jpeg ? gst_structure_new_empty("image/jpeg")
           : gst_structure_new("video/x-raw", "format", G_TYPE_STRING, "YUY2", nullptr);
  gst_structure_set(s, "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, nullptr);
  if (rates.size() == 1) {
    gst_structure_set(s, "framerate", GST_TYPE_FRACTION, rates[0].numerator, rates[0].denominator,
                      nullptr);
  } else {
    GValue list = G_VALUE_INIT;
    g_value_init(&list, GST_TYPE_LIST);
    for (const Rate& rate : rates) {
      GValue fraction = G_VALUE_INIT;
      g_value_init(&fraction, GST_TYPE_FRACTION);
      gst_value_set_fraction(&fraction, rate.numerator, rate.denominator);
      gst_value_list_append_and_take_value(&list, &fraction);
    }
    gst_structure_take_value(s, "framerate", &list);
  }
  gst_caps_append_structure(caps, s);  // takes the structure
}

}  // namespace

GstDevice* NewVirtualCamera(const char* name, VirtualCameraKind kind) {
  constexpr std::array<std::pair<int, int>, 4> kSizes{
      {{640, 480}, {320, 240}, {1280, 720}, {1920, 1080}}};
  std::vector<int> offered = TestSceneSettings().rates;
  std::erase_if(offered, [](int rate) { return rate <= 0; });
  std::sort(offered.begin(), offered.end(), std::greater<>());
  offered.erase(std::unique(offered.begin(), offered.end()), offered.end());
  std::vector<Rate> asked;
  asked.reserve(offered.size());
  for (const int rate : offered) asked.push_back({rate, 1});
  const bool jpeg = kind != VirtualCameraKind::Yuy2;
  const CapsPtr caps(gst_caps_new_empty());
  for (const auto& [width, height] : kSizes)
    Offer(caps.get(), jpeg, width, height, RatesOf(jpeg, width, asked));
  if (kind == VirtualCameraKind::Mjpeg) {
    const auto& [width, height] = kSizes[0];
    Offer(caps.get(), false, width, height, RatesOf(false, width, asked));
  }
  StructurePtr properties(gst_structure_new("properties", "strobolux.driver-text", G_TYPE_STRING,
                                            kTestCameraDriver, nullptr));
  auto* device = static_cast<VirtualCameraDevice*>(
      g_object_new(virtual_camera_device_get_type(), "display-name", name, "device-class",
                   "Video/Source", "caps", caps.get(), "properties", properties.get(), nullptr));
  device->jpeg = jpeg;
  return GST_DEVICE(gst_object_ref_sink(device));
}

}  // namespace gst

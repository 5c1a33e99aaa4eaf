#include "platform/gst/test_camera.h"

#include <gst/video/video.h>

#include <memory>
#include <string>

#include "platform/gst/gst_util.h"
#include "platform/gst/sound_timeline.h"
#include "platform/gst/test_scene.h"

namespace gst {
namespace {

struct TestCamera {
  GstBin parent;
  GstElement* scene_caps;  // capsfilter fixing the grey frames the scene is drawn on
  GstElement* head;        // capsfilter fixing the format, size and rate asked for
  GstElement* overlay;     // writes the frame number; the end of the raw chain
  GstElement* encoder;     // jpegenc while JPEG is produced, otherwise null
  GstPad* ghost;
  gboolean jpeg_default;
  guint64 frames;  // touched by the streaming thread, reset before it starts
  // The scene's settings, and which of them were set on this camera: the others follow the
  // process-wide settings until the camera starts.
  SceneSettings settings;
  gboolean exposure_set, delay_set, jitter_set;
  // Made when streaming starts and dropped when it stops; constructed and destroyed with
  // the object.
  std::unique_ptr<SceneCamera> scene;
  GstVideoInfo scene_info;
};
struct TestCameraClass {
  GstBinClass parent_class;
};

G_DEFINE_TYPE(TestCamera, test_camera, GST_TYPE_BIN)

enum Property { kPropertyExposure = 1, kPropertyDelay, kPropertyJitter };

// Seeds each stream's jitter alike, so that a run repeats.
constexpr std::uint64_t kJitterSeed = 20240601;

// Runs once the live source has waited for the frame's time: the scene is drawn as it was
// during the frame's exposure, which ended just before.
GstPadProbeReturn DrawFrame(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* self = static_cast<TestCamera*>(data);
  const guint64 number = ++self->frames;
  const std::string text = "frame " + std::to_string(number);
  g_object_set(self->overlay, "text", text.c_str(), nullptr);
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  if (!self->scene || !buffer || !GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
  buffer = gst_buffer_make_writable(buffer);
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  const ClockPtr clock(gst_element_get_clock(GST_ELEMENT(self)));
  const GstClockTime at = gst_element_get_base_time(GST_ELEMENT(self)) + GST_BUFFER_PTS(buffer);
  const std::int64_t frameNs =
      clock ? ClockTimeToSteadyNs(clock.get(), at) : static_cast<std::int64_t>(at);
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &self->scene_info, buffer, GST_MAP_WRITE))
    return GST_PAD_PROBE_OK;
  self->scene->DrawFrame(static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                         GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), frameNs, PlayedSound());
  gst_video_frame_unmap(&frame);
  return GST_PAD_PROBE_OK;
}

// The caps the element downstream wants, fixed to one format; null when it wants nothing
// in particular.
CapsPtr WantedCaps(TestCamera* self) {
  CapsPtr peer(gst_pad_peer_query_caps(self->ghost, nullptr));
  if (!peer || gst_caps_is_any(peer.get()) || gst_caps_is_empty(peer.get())) return nullptr;
  CapsPtr wanted(gst_caps_fixate(gst_caps_copy(peer.get())));
  GstStructure* s = gst_caps_get_structure(wanted.get(), 0);
  const gchar* media = gst_structure_get_name(s);
  if (g_strcmp0(media, "image/jpeg") != 0 && g_strcmp0(media, "video/x-raw") != 0) return nullptr;
  return wanted;
}

bool BuildChain(TestCamera* self) {
  CapsPtr wanted = WantedCaps(self);
  if (!wanted) {
    wanted.reset(gst_caps_from_string(self->jpeg_default
                                          ? "image/jpeg,width=640,height=480,framerate=30/1"
                                          : "video/x-raw,format=YUY2,width=640,height=480,"
                                            "framerate=30/1"));
  }
  const GstStructure* s = gst_caps_get_structure(wanted.get(), 0);
  const bool jpeg = gst_structure_has_name(s, "image/jpeg");
  int width = 640, height = 480, num = 30, den = 1;
  gst_structure_get_int(s, "width", &width);
  gst_structure_get_int(s, "height", &height);
  gst_structure_get_fraction(s, "framerate", &num, &den);
  const gchar* format = jpeg ? "I420" : gst_structure_get_string(s, "format");
  CapsPtr head(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format ? format : "YUY2",
                                   "width", G_TYPE_INT, width, "height", G_TYPE_INT, height,
                                   "framerate", GST_TYPE_FRACTION, num, den, nullptr));
  g_object_set(self->head, "caps", head.get(), nullptr);
  // The scene is grey: drawn on 8-bit grey frames, converted to what was asked for after.
  CapsPtr grey(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "GRAY8", "width",
                                   G_TYPE_INT, width, "height", G_TYPE_INT, height, "framerate",
                                   GST_TYPE_FRACTION, num, den, nullptr));
  g_object_set(self->scene_caps, "caps", grey.get(), nullptr);
  gst_video_info_set_format(&self->scene_info, GST_VIDEO_FORMAT_GRAY8, static_cast<guint>(width),
                            static_cast<guint>(height));
  const SceneSettings common = TestSceneSettings();
  GST_OBJECT_LOCK(self);
  if (!self->exposure_set) self->settings.exposureMs = common.exposureMs;
  if (!self->delay_set) self->settings.delayMs = common.delayMs;
  if (!self->jitter_set) self->settings.jitterMs = common.jitterMs;
  const SceneSettings settings = self->settings;
  GST_OBJECT_UNLOCK(self);
  self->scene = std::make_unique<SceneCamera>(QSize(width, height), settings, kJitterSeed);
  GstElement* last = self->overlay;
  if (jpeg) {
    self->encoder = gst_element_factory_make("jpegenc", nullptr);
    if (!self->encoder) return false;
    gst_bin_add(GST_BIN(self), self->encoder);
    if (!gst_element_link(self->overlay, self->encoder)) return false;
    last = self->encoder;
  }
  PadPtr target(gst_element_get_static_pad(last, "src"));
  return gst_ghost_pad_set_target(GST_GHOST_PAD(self->ghost), target.get());
}

void TearDownChain(TestCamera* self) {
  gst_ghost_pad_set_target(GST_GHOST_PAD(self->ghost), nullptr);
  self->scene.reset();
  if (self->encoder) {
    gst_element_set_state(self->encoder, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(self), self->encoder);  // the bin held the only reference
    self->encoder = nullptr;
  }
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
  auto* self = reinterpret_cast<TestCamera*>(element);
  // Downstream is linked and its format chosen by the time the source leaves READY.
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    self->frames = 0;
    if (!BuildChain(self)) {
      GST_ELEMENT_ERROR(element, CORE, NEGOTIATION, ("test camera: cannot produce this format"),
                        (nullptr));
      TearDownChain(self);
      return GST_STATE_CHANGE_FAILURE;
    }
  }
  const GstStateChangeReturn result =
      GST_ELEMENT_CLASS(test_camera_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) TearDownChain(self);
  return result;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  auto* self = reinterpret_cast<TestCamera*>(object);
  // Read when streaming starts; a change while streaming waits for the next start.
  GST_OBJECT_LOCK(self);
  switch (id) {
    case kPropertyExposure:
      self->settings.exposureMs = g_value_get_double(value);
      self->exposure_set = TRUE;
      break;
    case kPropertyDelay:
      self->settings.delayMs = g_value_get_double(value);
      self->delay_set = TRUE;
      break;
    case kPropertyJitter:
      self->settings.jitterMs = g_value_get_double(value);
      self->jitter_set = TRUE;
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
  GST_OBJECT_UNLOCK(self);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  auto* self = reinterpret_cast<TestCamera*>(object);
  GST_OBJECT_LOCK(self);
  switch (id) {
    case kPropertyExposure:
      g_value_set_double(value, self->settings.exposureMs);
      break;
    case kPropertyDelay:
      g_value_set_double(value, self->settings.delayMs);
      break;
    case kPropertyJitter:
      g_value_set_double(value, self->settings.jitterMs);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
  GST_OBJECT_UNLOCK(self);
}

void Finalize(GObject* object) {
  auto* self = reinterpret_cast<TestCamera*>(object);
  std::destroy_at(&self->scene);
  std::destroy_at(&self->settings);
  G_OBJECT_CLASS(test_camera_parent_class)->finalize(object);
}

void test_camera_class_init(TestCameraClass* klass) {
  GST_ELEMENT_CLASS(klass)->change_state = ChangeState;
  auto* object = G_OBJECT_CLASS(klass);
  object->set_property = SetProperty;
  object->get_property = GetProperty;
  object->finalize = Finalize;
  const SceneSettings defaults;
  constexpr auto kFlags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
  g_object_class_install_property(
      object, kPropertyExposure,
      g_param_spec_double("exposure-ms", "Exposure", "Exposure time of each frame, ms", 0, 1000,
                          defaults.exposureMs, kFlags));
  g_object_class_install_property(
      object, kPropertyDelay,
      g_param_spec_double("delay-ms", "Delay",
                          "From the end of the exposure to the frame's timestamp, ms", 0, 1000,
                          defaults.delayMs, kFlags));
  g_object_class_install_property(
      object, kPropertyJitter,
      g_param_spec_double("jitter-ms", "Jitter", "Spread of a random extra delay of each frame, ms",
                          0, 1000, defaults.jitterMs, kFlags));
}

void test_camera_init(TestCamera* self) {
  self->frames = 0;
  self->encoder = nullptr;
  self->jpeg_default = FALSE;
  // GObject hands out zeroed memory, not C++ objects: the members that own memory are made here.
  std::construct_at(&self->settings, TestSceneSettings());
  self->exposure_set = self->delay_set = self->jitter_set = FALSE;
  std::construct_at(&self->scene);
  gst_video_info_init(&self->scene_info);
  GstElement* pattern = gst_element_factory_make("videotestsrc", nullptr);
  self->scene_caps = gst_element_factory_make("capsfilter", nullptr);
  GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
  self->head = gst_element_factory_make("capsfilter", nullptr);
  GstElement* balance = gst_element_factory_make("videobalance", nullptr);
  self->overlay = gst_element_factory_make("timeoverlay", nullptr);
  self->ghost = gst_ghost_pad_new_no_target("src", GST_PAD_SRC);
  gst_element_add_pad(GST_ELEMENT(self), self->ghost);
  if (!pattern || !self->scene_caps || !convert || !self->head || !balance || !self->overlay) {
    for (GstElement* e : {pattern, self->scene_caps, convert, self->head, balance, self->overlay})
      if (e) Adopt(e);  // released at once
    self->head = self->overlay = nullptr;
    return;
  }
  g_object_set(pattern, "is-live", TRUE, nullptr);
  gst_util_set_object_arg(G_OBJECT(pattern), "pattern", "solid-color");
  constexpr guint kGrey = kSceneBackground;
  g_object_set(pattern, "foreground-color", 0xff000000u | kGrey << 16 | kGrey << 8 | kGrey,
               nullptr);
  // The frame number stays in the top left corner, under the picture's stamp, clear of the
  // scene.
  g_object_set(self->overlay, "font-desc", "Sans 14", "shaded-background", TRUE, nullptr);
  gst_util_set_object_arg(G_OBJECT(self->overlay), "halignment", "left");
  gst_util_set_object_arg(G_OBJECT(self->overlay), "valignment", "top");
  gst_bin_add_many(GST_BIN(self), pattern, self->scene_caps, convert, self->head, balance,
                   self->overlay, nullptr);
  gst_element_link_many(pattern, self->scene_caps, convert, self->head, balance, self->overlay,
                        nullptr);
  PadPtr drawn(gst_element_get_static_pad(pattern, "src"));
  gst_pad_add_probe(drawn.get(), GST_PAD_PROBE_TYPE_BUFFER, DrawFrame, self, nullptr);
}

}  // namespace

GstElement* MakeTestCameraSource(bool jpegByDefault, const char* name) {
  auto* self = static_cast<TestCamera*>(g_object_new(test_camera_get_type(), nullptr));
  if (!self->head) {
    Adopt(GST_ELEMENT(self));  // released at once
    return nullptr;
  }
  self->jpeg_default = jpegByDefault;
  if (name) gst_element_set_name(GST_ELEMENT(self), name);
  return GST_ELEMENT(self);
}

}  // namespace gst

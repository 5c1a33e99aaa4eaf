#include "platform/gst/test_camera.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

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
  // The controls a webcam has, changed while it streams: read at each frame. In automatic
  // mode settings.exposureMs is the exposure automatic exposure reached.
  gboolean exposure_auto, exposure_priority, white_balance_auto;
  gint gain, white_balance_temperature;
  double reference_ms;       // the configured exposure: the picture is as drawn at it
  double frame_interval_ms;  // of the stream
  GstClockTime last_pts;     // of the last frame let through, touched by the streaming thread
  // Made when streaming starts and dropped when it stops; constructed and destroyed with
  // the object.
  std::unique_ptr<SceneCamera> scene;
  GstVideoInfo scene_info;
  GstVideoInfo head_info;                // the format asked for, which a tint is laid on
  std::vector<std::uint8_t> tint_lines;  // unpacked rows, touched by the streaming thread
};
struct TestCameraClass {
  GstBinClass parent_class;
};

G_DEFINE_TYPE(TestCamera, test_camera, GST_TYPE_BIN)

enum Property {
  kPropertyExposure = 1,
  kPropertyDelay,
  kPropertyJitter,
  kPropertyExposureAuto,
  kPropertyExposurePriority,
  kPropertyGain,
  kPropertyWhiteBalanceAuto,
  kPropertyWhiteBalanceTemperature,
  kPropertyConfiguredExposure
};

// The range automatic exposure keeps to; the longest only with exposure priority, otherwise
// the frame interval. 5 frames a second at the least, as webcams do, and well clear of the
// second without frames after which a camera counts as frozen.
constexpr double kShortestExposureMs = 0.1;
constexpr double kLongestAutoExposureMs = 200;
constexpr double kLongestExposureMs = 1000;

// One frame's exposure and brightness from the controls as they are now. Automatic exposure
// aims at the configured exposure's picture brightness and moves a third of the remaining
// ratio (on a log scale) each frame, as a webcam settles over a few frames.
struct FrameLook {
  double exposureMs;
  double brightness;
  bool dynamicRate;      // the exposure sets the frame spacing
  double exposureScale;  // the part of the brightness the exposure's length makes
};

FrameLook NextLook(TestCamera* self) {
  const double light = TestSceneLight();
  GST_OBJECT_LOCK(self);
  const double gain = TestCameraGainFactor(self->gain);
  const double reference = self->reference_ms;
  double exposure = self->settings.exposureMs;
  const bool automatic = self->exposure_auto;
  if (automatic) {
    const double aim = reference / std::max(light * gain, 1e-6);
    exposure = exposure > 0 ? exposure * std::cbrt(aim / exposure) : aim;
    const double longest =
        self->exposure_priority ? kLongestAutoExposureMs : self->frame_interval_ms;
    exposure = std::clamp(exposure, kShortestExposureMs, std::max(kShortestExposureMs, longest));
    self->settings.exposureMs = exposure;
  }
  const bool dynamicRate =
      automatic && self->exposure_priority && exposure > self->frame_interval_ms;
  GST_OBJECT_UNLOCK(self);
  const double scale = reference > 0 ? exposure / reference : 1.0;
  return {exposure, scale * light * gain, dynamicRate, scale};
}

// Seeds each stream's jitter alike, so that a run repeats.
constexpr std::uint64_t kJitterSeed = 20240601;

// Runs once the live source has waited for the frame's time: the scene is drawn as it was
// during the frame's exposure, which ended just before.
GstPadProbeReturn DrawFrame(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* self = static_cast<TestCamera*>(data);
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  const FrameLook look = NextLook(self);
  if (buffer && GST_BUFFER_PTS_IS_VALID(buffer)) {
    // An exposure longer than the frame interval spaces the frames out: those that come
    // before it ends are not taken.
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const auto spacing = static_cast<GstClockTime>(
        std::max(0.0, look.exposureMs - self->frame_interval_ms / 2) * GST_MSECOND);
    if (look.dynamicRate && GST_CLOCK_TIME_IS_VALID(self->last_pts) &&
        pts < self->last_pts + spacing)
      return GST_PAD_PROBE_DROP;
    self->last_pts = pts;
  }
  const guint64 number = ++self->frames;
  const std::string text = "frame " + std::to_string(number);
  g_object_set(self->overlay, "text", text.c_str(), nullptr);
  if (!self->scene || !buffer || !GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
  self->scene->SetExposureMs(look.exposureMs);
  self->scene->SetBrightness(look.brightness, look.exposureScale);
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

// The colour a white balance set by hand gives the grey scene: a camera assuming a light
// warmer than the scene's (a lower temperature) turns it blue, a colder one red. Red is
// scaled by kelvin / neutral and blue by neutral / kelvin.
void Tint(GstVideoFrame* frame, int kelvin, std::vector<std::uint8_t>& lines) {
  const GstVideoFormatInfo* info = frame->info.finfo;
  const bool yuv = GST_VIDEO_FORMAT_INFO_IS_YUV(info);
  if (!(yuv || GST_VIDEO_FORMAT_INFO_IS_RGB(info)) || !info->unpack_func || !info->pack_func ||
      (info->unpack_format != GST_VIDEO_FORMAT_AYUV &&
       info->unpack_format != GST_VIDEO_FORMAT_ARGB))
    return;  // grey, or more than 8 bits a component: left as it is
  const double red = static_cast<double>(kelvin) / kTestCameraNeutralK;
  const double blue = 1 / red;
  // Per level: the new luma and the chroma offsets of a grey of that luma (limited range,
  // BT.601), or the new red and blue.
  std::uint8_t first[256], second[256], third[256];
  for (int level = 0; level < 256; ++level) {
    if (yuv) {
      const double grey = std::max(0.0, (level - 16) * 255.0 / 219);
      const double r = std::min(255.0, grey * red), b = std::min(255.0, grey * blue);
      const double luma = 0.299 * r + 0.587 * grey + 0.114 * b;
      first[level] = static_cast<std::uint8_t>(std::lround(16 + luma * 219 / 255));
      second[level] = static_cast<std::uint8_t>(std::lround(128 + 0.564 * (b - luma) * 224 / 255));
      third[level] = static_cast<std::uint8_t>(std::lround(128 + 0.713 * (r - luma) * 224 / 255));
    } else {
      first[level] = static_cast<std::uint8_t>(std::lround(std::min(255.0, level * red)));
      second[level] = static_cast<std::uint8_t>(std::lround(std::min(255.0, level * blue)));
    }
  }
  const int width = GST_VIDEO_FRAME_WIDTH(frame), height = GST_VIDEO_FRAME_HEIGHT(frame);
  const int group = std::max(1, info->pack_lines);
  const auto rowBytes = static_cast<std::size_t>(width) * 4;
  lines.resize(rowBytes * static_cast<std::size_t>(group));
  for (int y = 0; y + group <= height; y += group) {
    for (int line = 0; line < group; ++line)
      info->unpack_func(info, GST_VIDEO_PACK_FLAG_NONE, lines.data() + rowBytes * line, frame->data,
                        frame->info.stride, 0, y + line, width);
    for (std::size_t at = 0; at < lines.size(); at += 4) {
      std::uint8_t* pixel = lines.data() + at;  // A, then Y U V or R G B
      if (yuv) {
        const std::uint8_t luma = pixel[1];
        pixel[1] = first[luma];
        pixel[2] = static_cast<std::uint8_t>(std::clamp(pixel[2] + second[luma] - 128, 0, 255));
        pixel[3] = static_cast<std::uint8_t>(std::clamp(pixel[3] + third[luma] - 128, 0, 255));
      } else {
        pixel[1] = first[pixel[1]];
        pixel[3] = second[pixel[3]];
      }
    }
    info->pack_func(info, GST_VIDEO_PACK_FLAG_NONE, lines.data(), static_cast<gint>(rowBytes),
                    frame->data, frame->info.stride, frame->info.chroma_site, y, width);
  }
}

// Lays the white balance set by hand on a frame of the format asked for.
GstPadProbeReturn TintFrame(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* self = static_cast<TestCamera*>(data);
  GST_OBJECT_LOCK(self);
  const int kelvin =
      self->white_balance_auto ? kTestCameraNeutralK : self->white_balance_temperature;
  GST_OBJECT_UNLOCK(self);
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  if (kelvin == kTestCameraNeutralK || !buffer) return GST_PAD_PROBE_OK;
  buffer = gst_buffer_make_writable(buffer);
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &self->head_info, buffer, GST_MAP_READWRITE))
    return GST_PAD_PROBE_OK;
  Tint(&frame, kelvin, self->tint_lines);
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
  if (!gst_video_info_from_caps(&self->head_info, head.get())) return false;
  // The scene is grey: drawn on 8-bit grey frames, converted to what was asked for after.
  CapsPtr grey(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "GRAY8", "width",
                                   G_TYPE_INT, width, "height", G_TYPE_INT, height, "framerate",
                                   GST_TYPE_FRACTION, num, den, nullptr));
  g_object_set(self->scene_caps, "caps", grey.get(), nullptr);
  gst_video_info_set_format(&self->scene_info, GST_VIDEO_FORMAT_GRAY8, static_cast<guint>(width),
                            static_cast<guint>(height));
  const SceneSettings common = TestSceneSettings();
  GST_OBJECT_LOCK(self);
  self->reference_ms = common.exposureMs;
  self->frame_interval_ms = num > 0 && den > 0 ? 1000.0 * den / num : 1000.0 / 30;
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
    self->last_pts = GST_CLOCK_TIME_NONE;
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
  // The delay and jitter are read when streaming starts; the rest at each frame.
  GST_OBJECT_LOCK(self);
  switch (id) {
    case kPropertyExposure:
      // Automatic exposure holds the time, as a driver refuses it then.
      if (self->exposure_auto) break;
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
    case kPropertyExposureAuto:
      self->exposure_auto = g_value_get_boolean(value);
      break;
    case kPropertyExposurePriority:
      self->exposure_priority = g_value_get_boolean(value);
      break;
    case kPropertyGain:
      self->gain = g_value_get_int(value);
      break;
    case kPropertyWhiteBalanceAuto:
      self->white_balance_auto = g_value_get_boolean(value);
      break;
    case kPropertyWhiteBalanceTemperature:
      self->white_balance_temperature = g_value_get_int(value);
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
    case kPropertyExposureAuto:
      g_value_set_boolean(value, self->exposure_auto);
      break;
    case kPropertyExposurePriority:
      g_value_set_boolean(value, self->exposure_priority);
      break;
    case kPropertyGain:
      g_value_set_int(value, self->gain);
      break;
    case kPropertyWhiteBalanceAuto:
      g_value_set_boolean(value, self->white_balance_auto);
      break;
    case kPropertyWhiteBalanceTemperature:
      g_value_set_int(value, self->white_balance_temperature);
      break;
    case kPropertyConfiguredExposure:
      g_value_set_double(value, self->reference_ms);
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
  std::destroy_at(&self->tint_lines);
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
  constexpr auto kRunningFlags = static_cast<GParamFlags>(kFlags | GST_PARAM_MUTABLE_PLAYING);
  g_object_class_install_property(
      object, kPropertyExposure,
      g_param_spec_double("exposure-ms", "Exposure",
                          "Exposure time of each frame, ms (the one automatic exposure reached "
                          "while it is on; a write is ignored then)",
                          0, kLongestExposureMs, defaults.exposureMs, kRunningFlags));
  g_object_class_install_property(
      object, kPropertyDelay,
      g_param_spec_double("delay-ms", "Delay",
                          "From the end of the exposure to the frame's timestamp, ms", 0, 1000,
                          defaults.delayMs, kFlags));
  g_object_class_install_property(
      object, kPropertyJitter,
      g_param_spec_double("jitter-ms", "Jitter", "Spread of a random extra delay of each frame, ms",
                          0, 1000, defaults.jitterMs, kFlags));
  g_object_class_install_property(
      object, kPropertyExposureAuto,
      g_param_spec_boolean("exposure-auto", "Automatic exposure",
                           "Exposure follows the scene's light, keeping the picture as bright as "
                           "the configured exposure makes it",
                           FALSE, kRunningFlags));
  g_object_class_install_property(
      object, kPropertyExposurePriority,
      g_param_spec_boolean("exposure-priority", "Exposure priority",
                           "Automatic exposure may exceed the frame interval, spacing the frames "
                           "out",
                           FALSE, kRunningFlags));
  g_object_class_install_property(
      object, kPropertyGain,
      g_param_spec_int("gain", "Gain", "Picture brightness times 1 + gain / 25", 0,
                       kTestCameraMaxGain, 0, kRunningFlags));
  g_object_class_install_property(
      object, kPropertyWhiteBalanceAuto,
      g_param_spec_boolean("white-balance-auto", "Automatic white balance",
                           "White balance follows the (grey) scene: no tint", TRUE, kRunningFlags));
  g_object_class_install_property(
      object, kPropertyWhiteBalanceTemperature,
      g_param_spec_int("white-balance-temperature", "White balance temperature",
                       "The light's colour temperature assumed by hand, K", kTestCameraWarmestK,
                       kTestCameraColdestK, kTestCameraNeutralK, kRunningFlags));
  g_object_class_install_property(
      object, kPropertyConfiguredExposure,
      g_param_spec_double("configured-exposure-ms", "Configured exposure",
                          "The exposure the picture is as drawn at, ms", 0, kLongestExposureMs,
                          defaults.exposureMs,
                          static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
}

void test_camera_init(TestCamera* self) {
  self->frames = 0;
  self->encoder = nullptr;
  self->jpeg_default = FALSE;
  // GObject hands out zeroed memory, not C++ objects: the members that own memory are made here.
  std::construct_at(&self->settings, TestSceneSettings());
  self->exposure_set = self->delay_set = self->jitter_set = FALSE;
  self->exposure_auto = self->exposure_priority = FALSE;
  self->white_balance_auto = TRUE;
  self->gain = 0;
  self->white_balance_temperature = kTestCameraNeutralK;
  self->reference_ms = self->settings.exposureMs;
  self->frame_interval_ms = 1000.0 / 30;
  self->last_pts = GST_CLOCK_TIME_NONE;
  std::construct_at(&self->scene);
  gst_video_info_init(&self->scene_info);
  gst_video_info_init(&self->head_info);
  std::construct_at(&self->tint_lines);
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
  PadPtr asked(gst_element_get_static_pad(self->head, "src"));
  gst_pad_add_probe(asked.get(), GST_PAD_PROBE_TYPE_BUFFER, TintFrame, self, nullptr);
}

}  // namespace

bool IsTestCameraSource(GstElement* element) {
  return element && G_TYPE_CHECK_INSTANCE_TYPE(element, test_camera_get_type());
}

double TestCameraGainFactor(int gain) {
  return 1 + gain / 25.0;
}

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

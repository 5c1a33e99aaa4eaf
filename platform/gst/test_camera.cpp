#include "platform/gst/test_camera.h"

#include <string>

#include "platform/gst/gst_util.h"

namespace gst {
namespace {

struct TestCamera {
  GstBin parent;
  GstElement* head;     // capsfilter fixing format, size and rate at the pattern
  GstElement* overlay;  // writes the frame number; the end of the raw chain
  GstElement* encoder;  // jpegenc while JPEG is produced, otherwise null
  GstPad* ghost;
  gboolean jpeg_default;
  guint64 frames;  // touched by the streaming thread, reset before it starts
};
struct TestCameraClass {
  GstBinClass parent_class;
};

G_DEFINE_TYPE(TestCamera, test_camera, GST_TYPE_BIN)

GstPadProbeReturn CountFrame(GstPad*, GstPadProbeInfo*, gpointer data) {
  auto* self = static_cast<TestCamera*>(data);
  const guint64 number = ++self->frames;
  const std::string text = "frame " + std::to_string(number);
  g_object_set(self->overlay, "text", text.c_str(), nullptr);
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

void test_camera_class_init(TestCameraClass* klass) {
  GST_ELEMENT_CLASS(klass)->change_state = ChangeState;
}

void test_camera_init(TestCamera* self) {
  self->frames = 0;
  self->encoder = nullptr;
  self->jpeg_default = FALSE;
  GstElement* pattern = gst_element_factory_make("videotestsrc", nullptr);
  self->head = gst_element_factory_make("capsfilter", nullptr);
  GstElement* balance = gst_element_factory_make("videobalance", nullptr);
  self->overlay = gst_element_factory_make("timeoverlay", nullptr);
  self->ghost = gst_ghost_pad_new_no_target("src", GST_PAD_SRC);
  gst_element_add_pad(GST_ELEMENT(self), self->ghost);
  if (!pattern || !self->head || !balance || !self->overlay) {
    for (GstElement* e : {pattern, self->head, balance, self->overlay})
      if (e) Adopt(e);  // released at once
    self->head = self->overlay = nullptr;
    return;
  }
  g_object_set(pattern, "is-live", TRUE, nullptr);
  gst_util_set_object_arg(G_OBJECT(pattern), "pattern", "ball");
  g_object_set(self->overlay, "font-desc", "Sans 14", "shaded-background", TRUE, nullptr);
  gst_bin_add_many(GST_BIN(self), pattern, self->head, balance, self->overlay, nullptr);
  gst_element_link_many(pattern, self->head, balance, self->overlay, nullptr);
  PadPtr counted(gst_element_get_static_pad(pattern, "src"));
  gst_pad_add_probe(counted.get(), GST_PAD_PROBE_TYPE_BUFFER, CountFrame, self, nullptr);
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

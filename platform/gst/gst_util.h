#pragma once
// Shared GStreamer parts: one-time initialisation and owning handles for every GStreamer and
// GLib object the platform layer holds, so that nothing is released by hand.

#include <gst/gst.h>

#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <memory>

namespace gst {

// Initialises GStreamer once per process; safe to call from anywhere.
void EnsureInitialized();

// Owning pointers whose deleters are the libraries' own release functions. (Several of
// those are static inline in the headers, so each gets a small deleter of its own.)
#define STROBOLUX_GST_HANDLE(Name, Type, release)            \
  struct Name##Release {                                     \
    void operator()(Type* object) const { release(object); } \
  };                                                         \
  using Name = std::unique_ptr<Type, Name##Release>

struct ObjectUnref {
  void operator()(gpointer object) const {
    if (object) gst_object_unref(object);
  }
};
template <class T>
using ObjectPtr = std::unique_ptr<T, ObjectUnref>;
using ElementPtr = ObjectPtr<GstElement>;
using PadPtr = ObjectPtr<GstPad>;
using BusPtr = ObjectPtr<GstBus>;
using ClockPtr = ObjectPtr<GstClock>;
using DevicePtr = ObjectPtr<GstDevice>;
STROBOLUX_GST_HANDLE(CapsPtr, GstCaps, gst_caps_unref);
STROBOLUX_GST_HANDLE(MessagePtr, GstMessage, gst_message_unref);
STROBOLUX_GST_HANDLE(SamplePtr, GstSample, gst_sample_unref);
STROBOLUX_GST_HANDLE(BufferPtr, GstBuffer, gst_buffer_unref);
STROBOLUX_GST_HANDLE(QueryPtr, GstQuery, gst_query_unref);
STROBOLUX_GST_HANDLE(StructurePtr, GstStructure, gst_structure_free);
STROBOLUX_GST_HANDLE(ErrorPtr, GError, g_error_free);
STROBOLUX_GST_HANDLE(CharPtr, gchar, g_free);
// A clock wait: unreferenced with the handle (a scheduled one is unscheduled first by its
// owner, which alone knows whether it still runs).
STROBOLUX_GST_HANDLE(ClockIdPtr, void, gst_clock_id_unref);
#undef STROBOLUX_GST_HANDLE

// A GList of GStreamer objects, each unreferenced with the list.
struct ObjectListFree {
  void operator()(GList* list) const { g_list_free_full(list, gst_object_unref); }
};
using ObjectList = std::unique_ptr<GList, ObjectListFree>;

// Takes the floating reference of a newly made element, so that a handle owns it.
inline ElementPtr Adopt(GstElement* element) {
  return ElementPtr(element ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr);
}

// Shared ownership of a GStreamer object (reference counted by GStreamer itself).
template <class T>
std::shared_ptr<T> Share(T* object) {
  return std::shared_ptr<T>(object, [](T* o) {
    if (o) gst_object_unref(o);
  });
}

// Steady-clock nanoseconds: the time base of camera frames and of the tone's timing, the
// same as the system's GstClock and the program's tick count.
inline std::int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Makes the elements of a pipeline by factory name, each owned until it is given to a bin.
// The factories that are not installed are collected, so that one message names them all.
class ElementMaker {
 public:
  ElementPtr Make(const char* factory, const char* name = nullptr);
  // Empty when every element was made; else "не хватает элемента GStreamer: jpegdec, ...".
  QString Missing() const;

 private:
  QStringList missing_;
};

// Gives the element to the bin, which holds it from then on; the pointer returned stays valid
// as long as the bin does. Null when the bin refuses it (the element is then released).
GstElement* AddToBin(GstElement* bin, ElementPtr element);

// A new pipeline, GStreamer initialised first.
ElementPtr NewPipeline(const char* name);

// The text of a GError, or a fallback when there is none.
QString ErrorText(const GError* error, const char* fallback = "unknown error");

}  // namespace gst

#pragma once
// Shared GStreamer parts: one-time initialisation and owning handles for GStreamer objects.

#include <gst/gst.h>

#include <memory>

namespace gstutil {

// Initialises GStreamer once per process; safe to call from anywhere.
void EnsureInitialized();

struct ObjectUnref {
  void operator()(gpointer object) const {
    if (object) gst_object_unref(object);
  }
};
struct CapsUnref {
  void operator()(GstCaps* caps) const {
    if (caps) gst_caps_unref(caps);
  }
};
struct MessageUnref {
  void operator()(GstMessage* message) const {
    if (message) gst_message_unref(message);
  }
};

template <class T>
using ObjectPtr = std::unique_ptr<T, ObjectUnref>;
using ElementPtr = ObjectPtr<GstElement>;
using CapsPtr = std::unique_ptr<GstCaps, CapsUnref>;
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;

// Shared ownership of a GStreamer object (reference counted by GStreamer itself).
template <class T>
std::shared_ptr<T> Share(T* object) {
  return std::shared_ptr<T>(object, ObjectUnref());
}

}  // namespace gstutil

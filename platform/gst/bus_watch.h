#pragma once
// The one road from a pipeline's bus to the GUI thread, shared by the tone and the camera.
// A sync handler reads every message on the thread that posts it (so nothing piles up on
// the bus, and no GLib main loop is needed) and hands the ones that matter to the owner on
// the GUI thread as a queued call.

#include <gst/gst.h>

#include <QString>
#include <atomic>
#include <functional>
#include <memory>

#include "platform/gst/gst_util.h"

namespace gst {

struct BusNotice {
  enum Kind { Error, Warning, EndOfStream };
  Kind kind = Error;
  QString source;  // name of the element that posted it
  QString text;    // GStreamer's own text of the error
  QString debug;   // its debug detail, for the log
};

class BusWatch {
 public:
  // Runs on the posting thread for every message, before it is dropped.
  using SyncHook = std::function<void(GstMessage*)>;
  using GuiHandler = std::function<void(const BusNotice&)>;

  // Watches the bus of `pipeline`. `onGui` runs on the GUI thread for errors, warnings and
  // the end of stream, unless the watch has ended by then. A watch ended on another thread
  // may still deliver a notice already on its way, so `onGui` must not rely on the owner.
  BusWatch(GstElement* pipeline, GuiHandler onGui, SyncHook hook = {});
  ~BusWatch();
  BusWatch(const BusWatch&) = delete;
  BusWatch& operator=(const BusWatch&) = delete;

 private:
  static GstBusSyncReply OnMessage(GstBus* bus, GstMessage* message, gpointer data);

  struct Shared {
    GuiHandler onGui;
    SyncHook hook;
    std::atomic<bool> alive{true};
  };
  ObjectPtr<GstBus> bus_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace gst

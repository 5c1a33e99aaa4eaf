#include "platform/gst/bus_watch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <optional>

#include "platform/forms/application.h"
#include "platform/gst/gst_util.h"

namespace gst {
namespace {

BusNotice NoticeOf(GstMessage* message, BusNotice::Kind kind) {
  BusNotice notice;
  notice.kind = kind;
  notice.source =
      QString::fromUtf8(GST_MESSAGE_SRC_NAME(message) ? GST_MESSAGE_SRC_NAME(message) : "");
  if (kind == BusNotice::EndOfStream) return notice;
  GError* raw_error = nullptr;
  gchar* raw_debug = nullptr;
  if (kind == BusNotice::Error)
    gst_message_parse_error(message, &raw_error, &raw_debug);
  else
    gst_message_parse_warning(message, &raw_error, &raw_debug);
  ErrorPtr error(raw_error);
  CharPtr debug(raw_debug);
  notice.text = ErrorText(error.get());
  notice.debug = QString::fromUtf8(debug ? debug.get() : "");
  return notice;
}

}  // namespace

BusWatch::BusWatch(GstElement* pipeline, GuiHandler onGui, SyncHook hook)
    : bus_(gst_element_get_bus(pipeline)), shared_(std::make_shared<Shared>()) {
  shared_->onGui = std::move(onGui);
  shared_->hook = std::move(hook);
  // The bus holds its own reference to the shared part while the handler is installed.
  // GStreamer keeps the handler alive while a call is under way and frees it afterwards.
  auto* keep = std::make_unique<std::shared_ptr<Shared>>(shared_).release();
  gst_bus_set_sync_handler(bus_.get(), &BusWatch::OnMessage, keep, [](gpointer data) {
    delete static_cast<std::shared_ptr<Shared>*>(data);
  });
}

BusWatch::~BusWatch() {
  shared_->alive = false;
  gst_bus_set_sync_handler(bus_.get(), nullptr, nullptr, nullptr);
}

GstBusSyncReply BusWatch::OnMessage(GstBus*, GstMessage* message, gpointer data) {
  const std::shared_ptr<Shared> shared = *static_cast<std::shared_ptr<Shared>*>(data);
  MessagePtr owned(message);  // every message is consumed here: nothing piles up
  if (shared->hook) shared->hook(message);
  std::optional<BusNotice::Kind> kind;
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
      kind = BusNotice::Error;
      break;
    case GST_MESSAGE_WARNING:
      kind = BusNotice::Warning;
      break;
    case GST_MESSAGE_EOS:
      kind = BusNotice::EndOfStream;
      break;
    default:
      break;
  }
  if (kind && shared->onGui && shared->alive && QCoreApplication::instance()) {
    // The application object lives on the GUI thread for the whole run; the watch's own
    // liveness is checked there, where it is also destroyed.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [shared, notice = NoticeOf(message, *kind)] {
          forms::AssertWindowThread("BusWatch notice");
          if (shared->alive) shared->onGui(notice);
        },
        Qt::QueuedConnection);
  }
  return GST_BUS_DROP;
}

}  // namespace gst

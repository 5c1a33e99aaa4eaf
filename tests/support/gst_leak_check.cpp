#include "tests/support/gst_leak_check.h"

#include <gst/gst.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace testing_support {
namespace {

// Objects the tracer saw made (+1) and finalized (-1) since the check began, by address.
std::map<std::string, std::pair<int, std::string>> balance;
bool tracking = false;

GstTracer* LeakTracer() {
  if (!gst_is_initialized()) return nullptr;
  GList* tracers = gst_tracing_get_active_tracers();
  GstTracer* found = nullptr;
  for (GList* item = tracers; item; item = item->next) {
    if (!found && g_signal_lookup("activity-get-checkpoint", G_OBJECT_TYPE(item->data)) != 0)
      found = GST_TRACER(gst_object_ref(item->data));
  }
  g_list_free_full(tracers, gst_object_unref);
  return found;
}

// Adds what the tracer saw since its last checkpoint. (Its checkpoints carry type names and
// addresses only: the live-object lists of this GStreamer version hold unowned references.)
void TakeCheckpoint(GstTracer* tracer) {
  GstStructure* checkpoint = nullptr;
  g_signal_emit_by_name(tracer, "activity-get-checkpoint", &checkpoint);
  if (!checkpoint) return;
  for (const auto& [field, change] :
       {std::pair{"objects-created-list", 1}, std::pair{"objects-removed-list", -1}}) {
    const GValue* list = gst_structure_get_value(checkpoint, field);
    const guint count = list && GST_VALUE_HOLDS_LIST(list) ? gst_value_list_get_size(list) : 0;
    for (guint i = 0; i < count; ++i) {
      const GstStructure* entry = gst_value_get_structure(gst_value_list_get_value(list, i));
      const char* address = gst_structure_get_string(entry, "address");
      const char* type = gst_structure_get_string(entry, "type-name");
      if (!address) continue;
      auto& [made, name] = balance[address];
      made += change;
      if (type) name = type;
    }
  }
  gst_structure_free(checkpoint);
}

// Elements and pads still alive. (Only their type names and addresses are known: one may be
// finalized on another thread at any moment, so nothing of it is read.)
std::vector<std::string> Leaked() {
  std::vector<std::string> leaked;
  for (const auto& [address, entry] : balance) {
    if (entry.first <= 0) continue;
    const GType type = g_type_from_name(entry.second.c_str());
    if (!g_type_is_a(type, GST_TYPE_ELEMENT) && !g_type_is_a(type, GST_TYPE_PAD)) continue;
    leaked.push_back(entry.second + " at " + address);
  }
  return leaked;
}

}  // namespace

void BeginGstLeakCheck() {
  // The tracer exists only from GStreamer's initialisation on: made now, it sees everything.
  g_setenv("GST_TRACERS", "leaks(filters=\"GstElement,GstPad\")", FALSE);
  gst_init(nullptr, nullptr);
  GstTracer* tracer = LeakTracer();
  if (!tracer) return;
  // Tracking is started once: a second start hangs this GStreamer version's tracer. A later
  // begin takes a checkpoint instead and starts a new balance from it.
  if (tracking)
    TakeCheckpoint(tracer);
  else
    g_signal_emit_by_name(tracer, "activity-start-tracking");
  gst_object_unref(tracer);
  balance.clear();
  tracking = true;
}

int LiveGstObjects(const char* typeName) {
  GstTracer* tracer = tracking ? LeakTracer() : nullptr;
  if (!tracer) return -1;
  TakeCheckpoint(tracer);
  gst_object_unref(tracer);
  const GType wanted = g_type_from_name(typeName);
  int live = 0;
  for (const auto& [address, entry] : balance)
    if (entry.first > 0 && wanted != 0 &&
        g_type_is_a(g_type_from_name(entry.second.c_str()), wanted))
      ++live;
  return live;
}

int EndGstLeakCheck() {
  GstTracer* tracer = tracking ? LeakTracer() : nullptr;
  if (!tracer) return 0;
  TakeCheckpoint(tracer);
  QElapsedTimer waited;
  waited.start();
  while (!Leaked().empty() && waited.elapsed() < 5000) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QThread::msleep(20);
    TakeCheckpoint(tracer);
  }
  gst_object_unref(tracer);
  const std::vector<std::string> leaked = Leaked();
  for (const std::string& object : leaked)
    std::fprintf(stderr, "GStreamer leak: %s\n", object.c_str());
  return leaked.empty() ? 0 : 1;
}

}  // namespace testing_support

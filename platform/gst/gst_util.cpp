#include "platform/gst/gst_util.h"

#include <atomic>
#include <mutex>

namespace gstutil {

void EnsureInitialized() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

namespace {
std::atomic<int> live_pipelines{0};
}  // namespace

ElementPtr NewPipeline(const char* name) {
  EnsureInitialized();
  ElementPtr pipeline = Adopt(gst_pipeline_new(name));
  if (pipeline) {
    ++live_pipelines;
    g_object_weak_ref(
        G_OBJECT(pipeline.get()), [](gpointer, GObject*) { --live_pipelines; }, nullptr);
  }
  return pipeline;
}

int LivePipelines() {
  return live_pipelines.load();
}

QString ErrorText(const GError* error, const char* fallback) {
  return QString::fromUtf8(error && error->message ? error->message : fallback);
}

}  // namespace gstutil

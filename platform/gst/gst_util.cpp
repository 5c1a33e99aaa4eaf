#include "platform/gst/gst_util.h"

#include <mutex>

namespace gstutil {

void EnsureInitialized() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

QString ErrorText(const GError* error, const char* fallback) {
  return QString::fromUtf8(error && error->message ? error->message : fallback);
}

}  // namespace gstutil

#include "platform/gst/gst_util.h"

#include <mutex>

namespace gstutil {

void EnsureInitialized() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

}  // namespace gstutil

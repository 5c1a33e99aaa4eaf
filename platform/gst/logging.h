#pragma once
// The GStreamer layer's logging category, under which its cameras, devices and recordings leave
// their trace.

#include <QLoggingCategory>

namespace gst {
Q_DECLARE_LOGGING_CATEGORY(lcGst)
}  // namespace gst

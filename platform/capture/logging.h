#pragma once
// The capture window's logging category, under which its caught failures leave their trace.

#include <QLoggingCategory>

namespace capture {
Q_DECLARE_LOGGING_CATEGORY(lcCapture)
}  // namespace capture

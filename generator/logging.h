#pragma once
// The generator's logging category, under which its caught failures leave their trace.

#include <QLoggingCategory>

namespace generator {
Q_DECLARE_LOGGING_CATEGORY(lcGenerator)
}  // namespace generator

#pragma once
// The camera control's logging category, under which its caught failures leave their trace.

#include <QLoggingCategory>

namespace camera {
Q_DECLARE_LOGGING_CATEGORY(lcCameraControl)
}  // namespace camera

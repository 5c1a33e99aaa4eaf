#pragma once
// The application's logging category, under which start-up and the camera calibration leave
// their trace.

#include <QLoggingCategory>

namespace app {
Q_DECLARE_LOGGING_CATEGORY(lcApp)
}  // namespace app

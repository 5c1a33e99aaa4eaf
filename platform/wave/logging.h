#pragma once
// The sound output's logging category, under which its caught failures leave their trace.

#include <QLoggingCategory>

namespace wave {
Q_DECLARE_LOGGING_CATEGORY(lcWave)
}  // namespace wave

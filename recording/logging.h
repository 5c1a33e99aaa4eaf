#pragma once
// The recording's logging category: caught failures and files that could not be written.

#include <QLoggingCategory>

namespace recording {
Q_DECLARE_LOGGING_CATEGORY(lcRecording)
}  // namespace recording

#pragma once
// The forms layer's logging category, under which its caught failures leave their trace.

#include <QLoggingCategory>

namespace forms {
Q_DECLARE_LOGGING_CATEGORY(lcForms)
}  // namespace forms

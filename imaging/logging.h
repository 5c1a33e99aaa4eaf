#pragma once
// The picture conversion's logging category, under which its failures leave their reason.

#include <QLoggingCategory>

namespace imaging {
Q_DECLARE_LOGGING_CATEGORY(lcImaging)
}  // namespace imaging

#pragma once
// The video graph's logging category, under which its caught failures leave their trace.

#include <QLoggingCategory>

namespace graph {
Q_DECLARE_LOGGING_CATEGORY(lcGraph)
}  // namespace graph

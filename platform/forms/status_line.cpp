#include "platform/forms/status_line.h"

namespace forms {

StatusLine::StatusLine(QLabel& label) : QObject(&label), label_(label) {
  setObjectName(QStringLiteral("StatusLine"));
}

QString StatusLine::Text() const {
  return label_.text();
}

void StatusLine::Say(const QString& text) {
  label_.setText(text);
}

void StatusLine::ClearIfSaying(const QString& text) {
  if (label_.text() == text) label_.clear();
}

void StatusLine::ClearIfStartsWith(const QString& prefix) {
  if (label_.text().startsWith(prefix)) label_.clear();
}

}  // namespace forms

#include "platform/forms/runtime_error.h"

namespace forms {

RuntimeError::RuntimeError(int number, QString source, QString description)
    : std::runtime_error(
          QStringLiteral("%1 (%2): %3").arg(number).arg(source, description).toStdString()),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

QString StandardDescription(int number) {
  switch (number) {
    case kInvalidProcedureCall:
      return QStringLiteral("Invalid procedure call or argument");
    case kOverflow:
      return QStringLiteral("Overflow");
    case kOutOfMemory:
      return QStringLiteral("Out of memory");
    case kSubscriptOutOfRange:
      return QStringLiteral("Subscript out of range");
    case kDivisionByZero:
      return QStringLiteral("Division by zero");
    case kTypeMismatch:
      return QStringLiteral("Type mismatch");
    case kDeviceUnavailable:
      return QStringLiteral("Device unavailable");
    case kPathFileAccess:
      return QStringLiteral("Path/File access error");
    case kObjectVariableNotSet:
      return QStringLiteral("Object variable or With block variable not set");
    default:
      return QStringLiteral("Application-defined or object-defined error");
  }
}

void LogFailure(const QLoggingCategory& category, const char* where, const std::exception& error) {
  if (!category.isWarningEnabled()) return;
  if (const auto* own = dynamic_cast<const RuntimeError*>(&error)) {
    QMessageLogger().warning(category).noquote()
        << where << "failed: error" << own->Number() << "from" << own->Source() << "-"
        << own->Description();
  } else {
    QMessageLogger().warning(category).noquote() << where << "failed:" << error.what();
  }
}

void Raise(int number, const QString& source, const QString& description) {
  throw RuntimeError(number, source,
                     description.isEmpty() ? StandardDescription(number) : description);
}

}  // namespace forms

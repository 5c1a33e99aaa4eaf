#pragma once
// Run-time errors in the manner of the original's: a number, a source and a description,
// thrown as a C++ exception and caught by the handler that has a failure trap.

#include <QLoggingCategory>
#include <QString>
#include <stdexcept>

namespace forms {

enum ErrorNumber : int {
  kInvalidProcedureCall = 5,
  kOverflow = 6,
  kOutOfMemory = 7,
  kSubscriptOutOfRange = 9,
  kDivisionByZero = 11,
  kTypeMismatch = 13,
  kDeviceUnavailable = 68,
  kPathFileAccess = 75,
  kObjectVariableNotSet = 91,
};

// The project name is what the original reported as the source of its own run-time errors.
inline const QString kDefaultErrorSource = QStringLiteral("Strobolux");

class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int number, QString source, QString description);

  int Number() const { return number_; }
  const QString& Source() const { return source_; }
  const QString& Description() const { return description_; }

 private:
  int number_;
  QString source_;
  QString description_;
};

// The standard description of a numbered run-time error ("Overflow", "Type mismatch", ...).
QString StandardDescription(int number);

// Leaves the trace of a caught failure under the module's category before the handler shows
// its message: where it was caught, and the number, source and description of one of the
// program's own errors, or what any other exception says.
void LogFailure(const QLoggingCategory& category, const char* where, const std::exception& error);

[[noreturn]] void Raise(int number, const QString& source = kDefaultErrorSource,
                        const QString& description = {});

}  // namespace forms

#pragma once
// Run-time errors in the manner of the original's: a number, a source and a description,
// thrown as a C++ exception and caught by the handler that has a failure trap.

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

[[noreturn]] void Raise(int number, const QString& source = kDefaultErrorSource,
                        const QString& description = {});

}  // namespace forms

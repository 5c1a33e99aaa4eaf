#include "platform/forms/conversions.h"

#include <QLocale>
#include <cfenv>
#include <cmath>
#include <limits>

#include "platform/forms/runtime_error.h"

namespace forms {

double CDbl(const QString& text) {
  bool ok = false;
  const double value = QLocale().toDouble(text.trimmed(), &ok);
  if (ok) {
    // "inf" and "nan" (in any of their spellings) read as doubles, but they are not numbers.
    if (!std::isfinite(value)) Raise(kTypeMismatch);
    return value;
  }
  // Qt reports an out-of-range number as a failed conversion that still yields infinity.
  if (std::isinf(value)) Raise(kOverflow);
  Raise(kTypeMismatch);
}

std::int32_t CLng(double value) {
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double rounded = std::nearbyint(value);
  std::fesetround(saved);
  if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
        rounded <= std::numeric_limits<std::int32_t>::max())) {
    Raise(kOverflow);
  }
  return static_cast<std::int32_t>(rounded);
}

std::int32_t CLng(const QString& text) {
  return CLng(CDbl(text));
}

double Divide(double numerator, double denominator) {
  if (denominator == 0) Raise(numerator == 0 ? kOverflow : kDivisionByZero);
  const double quotient = numerator / denominator;
  if (!std::isfinite(quotient)) Raise(kOverflow);
  return quotient;
}

std::int32_t ToLong(std::int64_t value) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    Raise(kOverflow);
  }
  return static_cast<std::int32_t>(value);
}

QString FormatGeneral(double value) {
  // The locale gives the decimal separator only: the general format groups no digits.
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  return locale.toString(value, 'g', std::numeric_limits<double>::digits10);
}

}  // namespace forms

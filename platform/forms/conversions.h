#pragma once
// The BASIC-style conversions the handlers use on operator input: the user's locale decides
// the decimal separator, integers round half to even, failures raise run-time errors.

#include <QString>
#include <cstdint>

namespace forms {

// Text to double in the default locale (QLocale()); blanks around the number are allowed.
// Raises 13 (type mismatch) for text that is not a finite number ("inf" and "nan" included),
// 6 (overflow) beyond double.
double CDbl(const QString& text);

// Double to a 32-bit integer, rounding to nearest with ties to even. Raises 6 (overflow)
// outside the 32-bit range (NaN included).
std::int32_t CLng(double value);

// Text to a 32-bit integer: CDbl, then CLng.
std::int32_t CLng(const QString& text);

// Division of doubles as the original's arithmetic did it: raises 11 (division by zero), or
// 6 (overflow) for 0 / 0 and for a result beyond the range of a double.
double Divide(double numerator, double denominator);

// A whole-number result, computed in 64 bits, as a 32-bit integer: raises 6 (overflow)
// outside the 32-bit range.
std::int32_t ToLong(std::int64_t value);

// A double in the general number format: up to 15 significant digits, no trailing zeros,
// the locale's decimal separator and no digit grouping.
QString FormatGeneral(double value);

}  // namespace forms

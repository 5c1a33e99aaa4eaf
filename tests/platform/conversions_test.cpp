#include <gtest/gtest.h>

#include <QDateTime>
#include <QThread>
#include <cfenv>
#include <clocale>
#include <cmath>

#include "platform/forms/clock.h"
#include "platform/forms/conversions.h"
#include "platform/forms/runtime_error.h"
#include "tests/support/test_support.h"

using forms::CDbl;
using forms::CLng;
using testing_support::ScopedLocale;

namespace {

int ErrorNumberOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const forms::RuntimeError& error) {
    EXPECT_EQ(error.Source(), QStringLiteral("Strobolux"));
    EXPECT_FALSE(error.Description().isEmpty());
    return error.Number();
  }
  return 0;
}

// The locales of the program's users: their decimal separators and digit groups differ.
const QLocale kLocales[] = {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
                            QLocale(QLocale::Russian, QLocale::Russia)};

}  // namespace

TEST(Conversions, RoundsHalfToEven) {
  const std::pair<double, int> cases[] = {{2.5, 2},  {3.5, 4},   {-2.5, -2},  {-3.5, -4},
                                          {0.5, 0},  {1.5, 2},   {2.4999, 2}, {2.5001, 3},
                                          {-0.5, 0}, {1e-300, 0}};
  for (const auto& [input, expected] : cases) EXPECT_EQ(CLng(input), expected) << input;
}

TEST(Conversions, RestoresTheCallersRoundingMode) {
  std::fesetround(FE_UPWARD);
  EXPECT_EQ(CLng(2.5), 2);
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  std::fesetround(FE_TONEAREST);
}

TEST(Conversions, ReadsTheLocalesDecimalSeparator) {
  {
    ScopedLocale russian(QLocale(QLocale::Russian, QLocale::Russia));
    EXPECT_DOUBLE_EQ(CDbl(QStringLiteral("2,5")), 2.5);
    EXPECT_EQ(CLng(QStringLiteral("2,5")), 2);
    EXPECT_EQ(CLng(QStringLiteral(" 3,5 ")), 4);
    EXPECT_EQ(ErrorNumberOf([] { CDbl(QStringLiteral("2.5")); }), forms::kTypeMismatch);
  }
  {
    ScopedLocale c(QLocale::c());
    EXPECT_DOUBLE_EQ(CDbl(QStringLiteral("2.5")), 2.5);
    EXPECT_EQ(CLng(QStringLiteral("-2.5")), -2);
    EXPECT_EQ(ErrorNumberOf([] { CDbl(QStringLiteral("2,5")); }), forms::kTypeMismatch);
  }
}

TEST(Conversions, TextThatIsNotANumberIsATypeMismatch) {
  ScopedLocale c(QLocale::c());
  for (const char* text : {"", "   ", "abc", "12abc", "1/2", "--1"}) {
    EXPECT_EQ(ErrorNumberOf([&] { CDbl(QString::fromLatin1(text)); }), forms::kTypeMismatch)
        << text;
    EXPECT_EQ(ErrorNumberOf([&] { CLng(QString::fromLatin1(text)); }), forms::kTypeMismatch)
        << text;
  }
}

TEST(Conversions, OverflowsAtTheThirtyTwoBitBounds) {
  ScopedLocale c(QLocale::c());
  EXPECT_EQ(CLng(2147483647.0), 2147483647);
  EXPECT_EQ(CLng(2147483647.49), 2147483647);
  EXPECT_EQ(CLng(-2147483648.0), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(CLng(-2147483648.5), std::numeric_limits<std::int32_t>::min());  // ties to even
  EXPECT_EQ(ErrorNumberOf([] { CLng(2147483647.5); }), forms::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { CLng(-2147483649.0); }), forms::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { CLng(std::nan("")); }), forms::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { CLng(QStringLiteral("2147483648")); }), forms::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { CDbl(QStringLiteral("1e400")); }), forms::kOverflow);
}

TEST(Conversions, GeneralFormatUsesTheLocale) {
  ScopedLocale russian(QLocale(QLocale::Russian, QLocale::Russia));
  EXPECT_EQ(forms::FormatGeneral(1.5), QStringLiteral("1,5"));
  EXPECT_EQ(forms::FormatGeneral(3), QStringLiteral("3"));
}

TEST(Conversions, GeneralFormatGroupsNoDigitsInAnyLocale) {
  for (const QLocale& locale : kLocales) {
    SCOPED_TRACE(locale.name().toStdString());
    ScopedLocale scoped(locale);
    const QString point = locale.decimalPoint();
    EXPECT_EQ(forms::FormatGeneral(1000.5), "1000" + point + "5");
    EXPECT_EQ(forms::FormatGeneral(1234567.891), "1234567" + point + "891");
    EXPECT_EQ(forms::FormatGeneral(1000000), QStringLiteral("1000000"));
    EXPECT_EQ(forms::FormatGeneral(-2500.25), locale.negativeSign() + "2500" + point + "25");
    // Up to 15 significant digits.
    EXPECT_EQ(forms::FormatGeneral(123456789.123456789), "123456789" + point + "123457");
    // What is written reads back.
    EXPECT_DOUBLE_EQ(CDbl(forms::FormatGeneral(98765.4321)), 98765.4321);
  }
}

TEST(Conversions, InfinityAndNanAreNotNumbersInAnyLocale) {
  for (const QLocale& locale : kLocales) {
    SCOPED_TRACE(locale.name().toStdString());
    ScopedLocale scoped(locale);
    QStringList texts = {QStringLiteral("inf"),   QStringLiteral("-inf"), QStringLiteral("+INF"),
                         QStringLiteral(" Inf "), QStringLiteral("nan"),  QStringLiteral("NaN")};
    // And however the locale itself writes them.
    texts << locale.toString(qInf()) << locale.toString(-qInf()) << locale.toString(qQNaN());
    for (const QString& text : texts) {
      EXPECT_EQ(ErrorNumberOf([&] { CDbl(text); }), forms::kTypeMismatch) << text.toStdString();
      EXPECT_EQ(ErrorNumberOf([&] { CLng(text); }), forms::kTypeMismatch) << text.toStdString();
    }
  }
}

// Runs once per session locale: C, en_US.UTF-8 and ru_RU.UTF-8 (see tests/CMakeLists.txt).
// Nothing sets the default locale here, so the session's decides.
TEST(SessionLocale, NumbersAreReadAndWrittenInTheSessionLocale) {
  const QString session = qEnvironmentVariable("LC_ALL");
  if (session.isEmpty()) GTEST_SKIP() << "needs LC_ALL, as ctest sets it";
  // The C library took it too: the locale is installed on this machine.
  EXPECT_EQ(QString::fromLatin1(std::setlocale(LC_ALL, nullptr)), session);
  const QString language = session.section(QLatin1Char('.'), 0, 0);
  const QLocale locale;
  EXPECT_EQ(locale.name(), language);
  const QString point =
      language == QStringLiteral("ru_RU") ? QStringLiteral(",") : QStringLiteral(".");
  EXPECT_EQ(forms::FormatGeneral(1000.5), "1000" + point + "5");
  EXPECT_EQ(forms::FormatGeneral(1234567), QStringLiteral("1234567"));
  EXPECT_DOUBLE_EQ(CDbl("2" + point + "5"), 2.5);
  EXPECT_EQ(CLng("2" + point + "5"), 2);
  EXPECT_EQ(ErrorNumberOf([] { CDbl(QStringLiteral("inf")); }), forms::kTypeMismatch);
}

TEST(Clock, RendersDatesAndTimesForFileNamesAndDisplay) {
  const QDateTime moment(QDate(2026, 3, 6), QTime(7, 5, 9));
  EXPECT_EQ(forms::FileDate(moment), QStringLiteral("06.03.2026"));
  EXPECT_EQ(forms::FileTime(moment), QStringLiteral("07:05:09"));
  const QDateTime evening(QDate(2026, 12, 31), QTime(23, 59, 58));
  EXPECT_EQ(forms::FileTime(evening), QStringLiteral("23:59:58"));
  // The display time keeps the seconds and leaves out the time zone.
  const QString shown = forms::DisplayTime(evening);
  EXPECT_TRUE(shown.contains(QStringLiteral("58"))) << shown.toStdString();
  EXPECT_FALSE(shown.contains(QStringLiteral("UTC"))) << shown.toStdString();
  EXPECT_FALSE(forms::DisplayDate(evening).isEmpty());
}

TEST(Clock, TickCountAdvancesInMilliseconds) {
  const std::uint32_t first = forms::GetTickCount();
  QThread::msleep(20);
  const std::uint32_t elapsed = forms::GetTickCount() - first;
  EXPECT_GE(elapsed, 20u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(Conversions, DivisionAndWholeNumberResultsFailLikeTheOriginalsArithmetic) {
  EXPECT_DOUBLE_EQ(forms::Divide(1, 4), 0.25);
  EXPECT_EQ(ErrorNumberOf([] { forms::Divide(1, 0); }), forms::kDivisionByZero);
  EXPECT_EQ(ErrorNumberOf([] { forms::Divide(0, 0); }), forms::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { forms::Divide(1e308, 1e-10); }), forms::kOverflow);
  EXPECT_EQ(forms::ToLong(std::int64_t{-2147483648}), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(ErrorNumberOf([] { forms::ToLong(std::int64_t{2147483648}); }), forms::kOverflow);
}

// A caught failure leaves where it was caught and what it was under the module's category.
TEST(RuntimeError, ACaughtFailureLeavesItsNumberSourceAndDescriptionInTheLog) {
  static const QLoggingCategory category("strobolux.test");
  testing_support::LogRecorder log;
  try {
    forms::CLng(QStringLiteral("abc"));
  } catch (const std::exception& error) {
    forms::LogFailure(category, "the rate", error);
  }
  forms::LogFailure(category, "the copy", std::runtime_error("no memory for the frame"));
  EXPECT_EQ(log.Lines(),
            (QStringList{"strobolux.test: the rate failed: error 13 from Strobolux - Type mismatch",
                         "strobolux.test: the copy failed: no memory for the frame"}));
}

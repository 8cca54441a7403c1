#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "runtime/Decimal.h"
#include "runtime/Error.h"
#include "tests/support/Errors.h"

using kestrola::Decimal;
using kestrola::Error;

namespace {
std::string Round(const char* text) {
  return Decimal::Parse(text).ToUtf8();
}

// The number of the error that reading `text` raises, 0 when it reads.
int ParseErrorOf(const char* text) {
  return kestrola::testing::ErrorNumberOf([&] { Decimal::Parse(text); });
}
}  // namespace

TEST(Decimal, FormatsWithPointAndNoTrailingZeros) {
  EXPECT_EQ(Round("1.50"), "1.5");
  EXPECT_EQ(Round("-0.000"), "0");
  EXPECT_EQ(Round("1e3"), "1000");
  EXPECT_EQ(Round("  +12.5E-1 "), "1.25");
  EXPECT_EQ(Round(".5"), "0.5");
  EXPECT_EQ(Round("5."), "5");
  EXPECT_EQ(Round("-0.0001"), "-0.0001");
  EXPECT_EQ(Round("000123.4500"), "123.45");
  EXPECT_EQ(Decimal::Parse(u"3.25").ToString(), u"3.25");
}

TEST(Decimal, KeepsTwentyNineSignificantDigits) {
  // The largest value: 2^96 - 1.
  EXPECT_EQ(Round("79228162514264337593543950335"), "79228162514264337593543950335");
  EXPECT_EQ(Round("-79228162514264337593543950335"), "-79228162514264337593543950335");
  // 28 places after the point.
  EXPECT_EQ(Round("0.0000000000000000000000000001"), "0.0000000000000000000000000001");
  EXPECT_EQ(Round("1.2345678901234567890123456789"), "1.2345678901234567890123456789");
  EXPECT_EQ(Round("9.2345678901234567890123456789"), "9.234567890123456789012345679");
}

TEST(Decimal, RoundsHalfToEvenBeyondThePrecision) {
  // 29th place and beyond are rounded away, halves to the even neighbour.
  EXPECT_EQ(Round("0.00000000000000000000000000005"), "0");
  EXPECT_EQ(Round("0.00000000000000000000000000015"), "0.0000000000000000000000000002");
  EXPECT_EQ(Round("0.00000000000000000000000000025"), "0.0000000000000000000000000002");
  EXPECT_EQ(Round("0.000000000000000000000000000251"), "0.0000000000000000000000000003");
  // Rounding that carries into a new digit.
  EXPECT_EQ(Round("9.99999999999999999999999999999"), "10");
  // Many digits beyond what the type holds are still rounded correctly.
  EXPECT_EQ(Round("1.00000000000000000000000000000000000000000000000000000000000000000000001"),
            "1");
  EXPECT_EQ(Round("2.5000000000000000000000000000000000000000000000000000000000000000000000001"),
            "2.5");
}

TEST(Decimal, OverflowAndMalformedText) {
  EXPECT_EQ(ParseErrorOf("79228162514264337593543950336"), kestrola::kErrOverflow);
  EXPECT_EQ(ParseErrorOf("1e29"), kestrola::kErrOverflow);
  EXPECT_EQ(ParseErrorOf("-1e40"), kestrola::kErrOverflow);
  EXPECT_EQ(ParseErrorOf(""), kestrola::kErrTypeMismatch);
  EXPECT_EQ(ParseErrorOf("abc"), kestrola::kErrTypeMismatch);
  EXPECT_EQ(ParseErrorOf("1,000"), kestrola::kErrTypeMismatch);  // no digit grouping
  EXPECT_EQ(ParseErrorOf("1e"), kestrola::kErrTypeMismatch);
  EXPECT_EQ(ParseErrorOf("--1"), kestrola::kErrTypeMismatch);
  EXPECT_EQ(ParseErrorOf("1.2.3"), kestrola::kErrTypeMismatch);
  // Tiny values round to zero rather than failing.
  EXPECT_EQ(Round("1e-40"), "0");
  EXPECT_EQ(ParseErrorOf("1e-99999999999"), 0);
}

TEST(Decimal, ComparesAcrossScales) {
  EXPECT_EQ(Decimal::Parse("1.0"), Decimal::Parse("1.00"));
  EXPECT_EQ(Decimal::Parse("-0"), Decimal::Parse("0"));
  EXPECT_LT(Decimal::Parse("-1"), Decimal::Parse("0.5"));
  EXPECT_LT(Decimal::Parse("-2"), Decimal::Parse("-1.5"));
  EXPECT_LT(Decimal::Parse("1.0000000000000000000000000001"),
            Decimal::Parse("1.0000000000000000000000000002"));
  EXPECT_GT(Decimal::Parse("79228162514264337593543950335"),
            Decimal::Parse("7922816251426433759354395033.5"));
}

TEST(Decimal, ConvertsToAndFromDoubleAndIntegers) {
  EXPECT_EQ(Decimal::FromDouble(0.1).ToUtf8(), "0.1");
  EXPECT_EQ(Decimal::FromDouble(-1234.5).ToUtf8(), "-1234.5");
  EXPECT_DOUBLE_EQ(Decimal::Parse("0.1").ToDouble(), 0.1);
  EXPECT_EQ(Decimal::FromInt64(INT64_MIN).ToUtf8(), "-9223372036854775808");
  EXPECT_EQ(Decimal::FromInt64(INT64_MIN).ToInt64(), INT64_MIN);
  EXPECT_EQ(Decimal::Parse("2.5").ToInt64(), 2);
  EXPECT_EQ(Decimal::Parse("3.5").ToInt64(), 4);
  EXPECT_EQ(Decimal::Parse("-2.5").ToInt64(), -2);
  EXPECT_THROW(Decimal::Parse("9223372036854775808").ToInt64(), Error);
  EXPECT_THROW(Decimal::FromDouble(1e30), Error);
  EXPECT_THROW(Decimal::FromDouble(std::numeric_limits<double>::quiet_NaN()), Error);
}

TEST(Decimal, ShortAndLongFormsAgree) {
  // The short form is read by a fast path; the same values written longer take the general one.
  EXPECT_EQ(Round("-65.613616999999977"), "-65.613616999999977");
  EXPECT_EQ(Decimal::Parse("-65.613616999999977"), Decimal::Parse("-6561361699999997.7e-14"));
  EXPECT_EQ(Round("0.05"), "0.05");
  EXPECT_EQ(Decimal::Parse("0.05").Scale(), 2);
  EXPECT_EQ(Round("-0.0"), "0");
  EXPECT_FALSE(Decimal::Parse("-0.0").IsNegative());
  EXPECT_EQ(Round("9999999999999999999"), "9999999999999999999");    // 19 digits
  EXPECT_EQ(Round("99999999999999999999"), "99999999999999999999");  // 20: general reader
  EXPECT_EQ(Round("12345.6789012345678901234"), "12345.6789012345678901234");
  EXPECT_EQ(ParseErrorOf("-"), kestrola::kErrTypeMismatch);
  EXPECT_EQ(ParseErrorOf("+."), kestrola::kErrTypeMismatch);
  EXPECT_EQ(ParseErrorOf("1.2."), kestrola::kErrTypeMismatch);
}

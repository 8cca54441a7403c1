#include <gtest/gtest.h>

#include <cmath>

#include "runtime/Convert.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "runtime/Variant.h"
#include "tests/support/Errors.h"

using namespace kestrola;

namespace {
int ToIntegerError(const char16_t* text) {
  return kestrola::testing::ErrorNumberOf([&] { Convert::ToInteger(std::u16string_view(text)); });
}
}  // namespace

TEST(Val, ReadsTheLeadingNumber) {
  EXPECT_EQ(Convert::Val(u"1"), 1);
  EXPECT_EQ(Convert::Val(u"  2.5abc"), 2.5);
  EXPECT_EQ(Convert::Val(u"abc"), 0);
  EXPECT_EQ(Convert::Val(u""), 0);
  EXPECT_EQ(Convert::Val(u"1 2 3"), 123);  // blanks inside the number are ignored
  EXPECT_EQ(Convert::Val(u"-3e2x"), -300);
  EXPECT_EQ(Convert::Val(u"1.5.5"), 1.5);
  EXPECT_EQ(Convert::Val(u"&HFF"), 255);
  EXPECT_EQ(Convert::Val(u"&O17"), 15);
  EXPECT_EQ(Convert::Val(u"2,5"), 2);  // the decimal mark is always the point
  EXPECT_EQ(Convert::Val(u"\t\n7"), 7);
  EXPECT_EQ(Convert::Val(u"1e"), 1);
  EXPECT_TRUE(std::isinf(Convert::Val(u"1e999")));
}

TEST(ToInteger, RoundsHalfToEvenAndChecksTheRange) {
  EXPECT_EQ(Convert::ToInteger(std::u16string_view(u"2.5")), 2);
  EXPECT_EQ(Convert::ToInteger(std::u16string_view(u"3.5")), 4);
  EXPECT_EQ(Convert::ToInteger(std::u16string_view(u"-2.5")), -2);
  EXPECT_EQ(Convert::ToInteger(std::u16string_view(u" 12 ")), 12);
  EXPECT_EQ(Convert::ToInteger(std::u16string_view(u"-32768")), -32768);
  EXPECT_EQ(Convert::ToInteger(std::u16string_view(u"32767.4")), 32767);
  EXPECT_EQ(ToIntegerError(u"32767.5"), kErrOverflow);
  EXPECT_EQ(ToIntegerError(u"-32769"), kErrOverflow);
  EXPECT_EQ(ToIntegerError(u"1e400"), kErrOverflow);
  EXPECT_EQ(ToIntegerError(u"abc"), kErrTypeMismatch);
  EXPECT_EQ(ToIntegerError(u""), kErrTypeMismatch);
  EXPECT_EQ(ToIntegerError(u"1x"), kErrTypeMismatch);
  EXPECT_EQ(ToIntegerError(u"inf"), kErrTypeMismatch);
  EXPECT_EQ(ToIntegerError(u"nan"), kErrTypeMismatch);
}

TEST(NumberToText, ShortestRoundTripWithPoint) {
  EXPECT_EQ(Convert::NumberToText(1), u"1");
  EXPECT_EQ(Convert::NumberToText(0), u"0");
  EXPECT_EQ(Convert::NumberToText(-0.0), u"0");
  EXPECT_EQ(Convert::NumberToText(2.5), u"2.5");
  EXPECT_EQ(Convert::NumberToText(0.1 + 0.2), u"0.30000000000000004");
  EXPECT_EQ(Convert::NumberToText(1e20), u"1E+20");
  EXPECT_EQ(Convert::NumberToText(1.5e-9), u"1.5E-09");
  EXPECT_EQ(Convert::DoubleToJson(1e20), "1e20");
  EXPECT_EQ(Convert::DoubleToJson(1.5e-9), "1.5e-09");
  EXPECT_EQ(Convert::DoubleToJson(-0.0), "0");
  double d = 0;
  EXPECT_TRUE(Convert::ParseDouble("-12.5e3", d));
  EXPECT_EQ(d, -12500);
  EXPECT_FALSE(Convert::ParseDouble("1e999", d));
  EXPECT_FALSE(Convert::ParseDouble("12a", d));
}

TEST(Text, Utf8AndUtf16AtTheEdges) {
  EXPECT_EQ(Text::FromUtf8("a\xC3\xA9\xE2\x82\xAC"), u"a\u00E9\u20AC");
  EXPECT_EQ(Text::FromUtf8("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(Text::ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  // Invalid input becomes U+FFFD, never a crash.
  EXPECT_EQ(Text::FromUtf8("\xFF"), u"\uFFFD");
  EXPECT_EQ(Text::FromUtf8("a\xE2\x82"), u"a\uFFFD");
  EXPECT_EQ(Text::FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(Text::FromUtf8("\xED\xA0\x80"), u"\uFFFD");    // encoded surrogate
  EXPECT_EQ(Text::ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(Text::ToUtf8(u"x" + std::u16string(1, char16_t(0xDC00)) + u"y"), "x\xEF\xBF\xBDy");
  std::string longAscii(1000, 'q');
  EXPECT_EQ(Text::ToUtf8(Text::FromUtf8(longAscii)), longAscii);
  EXPECT_TRUE(Text::EqualsIgnoreCase(u"\u00C9tat", u"\u00E9TAT"));
}

TEST(Variant, KindsAndConversions) {
  EXPECT_EQ(Variant().VarType(), vbEmpty);
  EXPECT_EQ(Variant::Null().VarType(), vbNull);
  EXPECT_NE(Variant(), Variant::Null());
  EXPECT_EQ(Variant(int16_t{1}).VarType(), vbInteger);
  EXPECT_EQ(Variant(int32_t{1}).VarType(), vbLong);
  EXPECT_EQ(Variant(1.0f).VarType(), vbSingle);
  EXPECT_EQ(Variant(1.0).VarType(), vbDouble);
  EXPECT_EQ(Variant(Currency{15000}).VarType(), vbCurrency);
  EXPECT_EQ(Variant(Date{1}).VarType(), vbDate);
  EXPECT_EQ(Variant(u"x").VarType(), vbString);
  EXPECT_EQ(Variant(std::make_shared<Object>()).VarType(), vbObject);
  EXPECT_EQ(Variant(ErrorValue{5}).VarType(), vbError);
  EXPECT_EQ(Variant(true).VarType(), vbBoolean);
  EXPECT_EQ(Variant(Decimal::Parse("1")).VarType(), vbDecimal);
  EXPECT_EQ(Variant(uint8_t{1}).VarType(), vbByte);
  auto arr = std::make_shared<VariantArray>();
  arr->elementKind = vbLong;
  EXPECT_EQ(Variant(arr).VarType(), 8192 + 3);

  EXPECT_EQ(Variant(Currency{15000}).ToText(), u"1.5");
  EXPECT_EQ(Variant(true).ToText(), u"True");
  EXPECT_EQ(Variant(true).ToDouble(), -1);
  EXPECT_EQ(Variant(u"2.5").ToDouble(), 2.5);
  EXPECT_THROW(Variant(u"x").ToDouble(), Error);
  EXPECT_THROW(Variant::Null().ToText(), Error);
  EXPECT_THROW(Variant(1.0).AsString(), Error);
  // Object references are shared, not copied.
  auto obj = std::make_shared<Object>();
  Variant a(obj), b = a;
  EXPECT_EQ(a.AsObject().get(), b.AsObject().get());
}

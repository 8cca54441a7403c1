#include <gtest/gtest.h>

#include "runtime/Decimal.h"
#include "runtime/Error.h"

using kestrola::Decimal;

TEST(Decimal, ParsesAndFormats) {
  EXPECT_EQ(Decimal::Parse("1.50").ToUtf8(), "1.5");
  EXPECT_EQ(Decimal::Parse("-0.000").ToUtf8(), "0");
  EXPECT_EQ(Decimal::Parse("1e3").ToUtf8(), "1000");
}

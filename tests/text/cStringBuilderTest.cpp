#include <gtest/gtest.h>

#include "text/cStringBuilder.h"

using kestrola::cStringBuilder;

TEST(cStringBuilder, NewBuilderIsEmpty) {
  cStringBuilder b;
  EXPECT_EQ(b.Length(), 0);
  EXPECT_EQ(b.Capacity(), 0);
  EXPECT_EQ(b.ChunkSize(), 8192);
}

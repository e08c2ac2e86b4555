#include <gtest/gtest.h>

#include "transfer/DownloadProgress.h"

using transfer::BarPosition;

TEST(BarPosition, TruncatedThousandthsThatFillExactlyAtTheEnd) {
  EXPECT_EQ(BarPosition(1000, 2500), 400);
  EXPECT_EQ(BarPosition(2499, 2500), 999);
  EXPECT_EQ(BarPosition(1, 3), 333);
  EXPECT_EQ(BarPosition(2, 3), 666);
  // Sizes whose thousandth is not exact in binary still end at a full bar.
  for (uint64_t size : {9u, 13u, 17u, 51u, 4097u, 123457u, 0xFFFFFFFFu}) EXPECT_EQ(BarPosition(size, size), 1000);
  EXPECT_EQ(BarPosition(0xFFFFFFFEu, 0xFFFFFFFFu), 999);
}

TEST(BarPosition, ZeroSizesAndOvershootStayInRange) {
  EXPECT_EQ(BarPosition(0, 0), 0);
  EXPECT_EQ(BarPosition(10, 0), 1000);
  EXPECT_EQ(BarPosition(5000, 2500), 1000);  // more listed bytes arrived than the total said
  EXPECT_EQ(BarPosition(0, 2500), 0);
}

// The in-memory bitmap's block layout and its row table.
#include <gtest/gtest.h>

#include <cstring>

#include "skin/Dib.h"

namespace {

uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

TEST(DibBlockTest, TwentyFourBitImageHasPaddedRowsAndNoColourTable) {
  CDib dib;
  EXPECT_EQ(dib.GetBitCount(), -1);
  EXPECT_EQ(dib.Width(), 1);
  ASSERT_TRUE(dib.Create(3, 2, 24));
  ASSERT_EQ(dib.BlockSize(), 64u);
  const uint8_t* b = dib.Block();
  EXPECT_EQ(U32(b), 40u);
  EXPECT_EQ(U32(b + 4), 3u);
  EXPECT_EQ(U32(b + 8), 2u);
  EXPECT_EQ(b[12] | b[13] << 8, 1);
  EXPECT_EQ(dib.GetBitCount(), 24);
  EXPECT_EQ(U32(b + 16), 0u);
  EXPECT_EQ(U32(b + 20), 24u);
  EXPECT_EQ(U32(b + 32), 0u);
  for (size_t i = 40; i < 64; ++i) EXPECT_EQ(b[i], 0) << "new pixels are black";

  CDibRowTable rows(dib);
  EXPECT_EQ(rows.Rows(), 2);
  EXPECT_EQ(rows[0], b + 52) << "the top row is stored last";
  EXPECT_EQ(rows[1], b + 40);
}

TEST(DibBlockTest, EightBitImageCarriesAGreyRampBeforeItsPixels) {
  CDib dib;
  ASSERT_TRUE(dib.Create(5, 1, 8));
  ASSERT_EQ(dib.BlockSize(), 1072u);
  const uint8_t* b = dib.Block();
  EXPECT_EQ(U32(b + 20), 8u);
  EXPECT_EQ(U32(b + 32), 256u);
  for (int i = 0; i < 256; ++i) {
    const uint8_t* entry = b + 40 + 4 * i;
    ASSERT_EQ(entry[0], i);
    ASSERT_EQ(entry[1], i);
    ASSERT_EQ(entry[2], i);
    ASSERT_EQ(entry[3], 0);
  }
  EXPECT_EQ(CDib::PixelOffset(b), 1064u);
  CDibRowTable rows(dib);
  EXPECT_EQ(rows[0], b + 1064);
}

TEST(DibBlockTest, SmallBitCountsKeepTableRoomButPixelsFollowTheirShortTable) {
  CDib mono;
  ASSERT_TRUE(mono.Create(33, 2, 1));
  EXPECT_EQ(CDib::RowSize(33, 1), 8u);
  EXPECT_EQ(mono.BlockSize(), 40u + 1024u + 16u);
  CDibRowTable rows(mono);
  EXPECT_EQ(rows[1], mono.Block() + 48);
  EXPECT_EQ(rows[0], mono.Block() + 56);
  for (size_t i = 40; i < mono.BlockSize(); ++i) ASSERT_EQ(mono.Block()[i], 0) << "no ramp below 8 bits";
}

TEST(DibBlockTest, UnusableSizesLeaveTheImageEmpty) {
  CDib dib;
  EXPECT_FALSE(dib.Create(-1, 4, 24));
  EXPECT_FALSE(dib.Create(4, 4, 0));
  EXPECT_FALSE(dib.Create(0x7FFFFFFF, 0x7FFFFFFF, 24));
  EXPECT_EQ(dib.Block(), nullptr);
  EXPECT_EQ(dib.GetBitCount(), -1);
  ASSERT_TRUE(dib.Create(2, 2, 24));
  EXPECT_FALSE(dib.Create(2, 2, 24)) << "only an empty image is created";
  dib.Free();
  EXPECT_EQ(dib.GetBitCount(), -1);
}

}  // namespace

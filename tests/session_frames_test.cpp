// Frame reading, download-place entries and dotted version fields.
#include <gtest/gtest.h>

#include "app/PatchClientDlg.h"
#include "session/PatchPacket.h"
#include "session/SessionText.h"

namespace {

PatchPacket FrameOf(uint16_t type, const std::string& body, int lengthOverride = -1) {
  PatchPacket p;
  p.Prepare(type);
  p.Write(body.data(), static_cast<uint32_t>(body.size()));
  if (lengthOverride >= 0) {
    p.Buffer()[0] = static_cast<uint8_t>(lengthOverride);
    p.Buffer()[1] = static_cast<uint8_t>(lengthOverride >> 8);
  }
  return p;
}

std::string U32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string Str(const std::string& s) { return s + std::string(1, '\0'); }

}  // namespace

TEST(PatchPacket, ReadsStopAtTheFramesEndNotTheBuffers) {
  // A type 1 frame whose length field says 8: the status is read, the four strings are refused,
  // although the bytes behind the frame's end hold perfectly good strings.
  PatchPacket p = FrameOf(1, U32(0) + Str("1.0") + Str("2.0"), 8);
  int32_t status = -1;
  std::string text = "old";
  EXPECT_TRUE(p.ReadU32(status));
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(p.ReadString(text));
  EXPECT_EQ(text, "");
  int32_t more = 7;
  EXPECT_FALSE(p.ReadU32(more));
  EXPECT_EQ(more, 0);
}

TEST(PatchPacket, StringEndingOnTheLastByteIsReadWhole) {
  PatchPacket p = FrameOf(3, U32(5) + Str("game") + Str("root"));
  int32_t stop = 0;
  std::string a, b;
  ASSERT_TRUE(p.ReadU32(stop));
  EXPECT_TRUE(p.ReadString(a));
  EXPECT_TRUE(p.ReadString(b));
  EXPECT_EQ(stop, 5);
  EXPECT_EQ(a, "game");
  EXPECT_EQ(b, "root");
  uint8_t byte = 9;
  EXPECT_FALSE(p.ReadU8(byte));
}

TEST(PatchPacket, StringWithoutItsZeroInsideTheFrameIsRefused) {
  // The zero exists in the buffer behind the frame, which must not count.
  PatchPacket p = FrameOf(1, "abcd" + Str("tail"), 4 + 4);
  std::string text = "x";
  EXPECT_FALSE(p.ReadString(text));
  EXPECT_EQ(text, "");
  int32_t v = 0;
  EXPECT_TRUE(p.ReadU32(v));  // the cursor stayed where it was
}

TEST(PatchPacket, LengthFieldBeyondTheBufferIsBoundedByIt) {
  PatchPacket p = FrameOf(1, "", 0xFFFF);
  uint8_t sink[8];
  std::string text;
  int reads = 0;
  while (p.ReadString(text) || p.Read(sink, 1)) ++reads;
  EXPECT_EQ(reads, 4096 - 4);  // every byte of the buffer once, and not one more
}

TEST(PatchPacket, PreparedFrameIsHeaderOnly) {
  PatchPacket p;
  p.Prepare(9);
  EXPECT_EQ(p.Length(), 4);
  EXPECT_EQ(p.Type(), 9);
  EXPECT_EQ(p.Buffer()[0], 4);
  EXPECT_EQ(p.Buffer()[2], 9);
}

TEST(HostEntry, KindAndValueWithTheLastPairWinning) {
  EXPECT_EQ(ParseHostEntry("1:ftpa").kind, 1);
  EXPECT_EQ(ParseHostEntry("1:ftpa").value, "ftpa");
  EXPECT_EQ(ParseHostEntry("2:gamea").kind, 2);
  HostEntry both = ParseHostEntry("1:a:2:b");
  EXPECT_EQ(both.kind, 2);
  EXPECT_EQ(both.value, "b");
  EXPECT_EQ(ParseHostEntry("3:x").kind, 3);
  EXPECT_EQ(ParseHostEntry(":::").kind, 0);
  HostEntry gaps = ParseHostEntry("::1::host::");
  EXPECT_EQ(gaps.kind, 1);
  EXPECT_EQ(gaps.value, "host");
  HostEntry noValue = ParseHostEntry("1");
  EXPECT_EQ(noValue.kind, 1);
  EXPECT_EQ(noValue.value, "");
}

TEST(HostEntry, OverlongEntryIsCutAtTheWorkBuffer) {
  HostEntry e = ParseHostEntry("1:" + std::string(400, 'h'));
  EXPECT_EQ(e.kind, 1);
  EXPECT_EQ(e.value.size(), 259u - 2u);
}

TEST(NextDottedField, TakesFieldsAndReturnsThePositionAfterTheDot) {
  std::string out = "junk";
  EXPECT_EQ(CPatchClientDlg::NextDottedField(out, "1.25", 0), 2);
  EXPECT_EQ(out, "1");
  EXPECT_EQ(CPatchClientDlg::NextDottedField(out, "1.25", 2), 5);
  EXPECT_EQ(out, "25");
  EXPECT_EQ(CPatchClientDlg::NextDottedField(out, "1.2.3", 4), 6);
  EXPECT_EQ(out, "3");
  EXPECT_EQ(CPatchClientDlg::NextDottedField(out, "1.2", 9), 10);  // already past the end
  EXPECT_EQ(out, "");
}

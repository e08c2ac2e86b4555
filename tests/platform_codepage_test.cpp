// Code page 936 names as Windows reads them, including the parts that the C library's own table
// leaves out.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <iconv.h>
#endif

#include <string>

#include "platform/codepage.h"

using platform::Cp936ToUtf8;

namespace {

// The witness of the order. On Windows it is the system's own code page 936 table, which the shared
// rule must agree with. Elsewhere GB18030 keeps GBK's user-defined areas where Windows' code page 936
// puts them, so the C library's GB18030 converter is an independent witness.
std::string ByWitness(const std::string& bytes) {
#ifdef _WIN32
  return platform::SystemCp936ToUtf8(bytes).value_or("not converted");
#else
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "no GB18030 converter";
  std::string out(16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (result == static_cast<size_t>(-1)) return "not converted";
  out.resize(out.size() - outLeft);
  return out;
#endif
}

TEST(Cp936, UserDefinedAreasBecomePrivateUseCharactersInWindowsOrder) {
  int checked = 0;
  auto area = [&](int firstLead, int lastLead, int firstTrail, int lastTrail) {
    for (int lead = firstLead; lead <= lastLead; ++lead) {
      for (int trail = firstTrail; trail <= lastTrail; ++trail) {
        if (trail == 0x7F) continue;
        std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
        ASSERT_EQ(Cp936ToUtf8(bytes), ByWitness(bytes)) << std::hex << lead << trail;
        ++checked;
      }
    }
  };
  area(0xAA, 0xAF, 0xA1, 0xFE);
  area(0xF8, 0xFE, 0xA1, 0xFE);
  area(0xA1, 0xA7, 0x40, 0xA0);
  EXPECT_EQ(checked, 1894);  // U+E000 to U+E765
  EXPECT_EQ(Cp936ToUtf8("\xAA\xA1"), "\uE000");
  EXPECT_EQ(Cp936ToUtf8("\xA7\xA0"), "\uE765");
}

TEST(Cp936, EveryByteStringHasOneFixedName) {
  // Ordinary text, the euro sign of 0x80, and a user-defined character amid ordinary ones.
  EXPECT_EQ(Cp936ToUtf8("\xD2\xF4\xC0\xD6/a.txt"), "音乐/a.txt");
  EXPECT_EQ(Cp936ToUtf8("\x80"), "€");
  EXPECT_EQ(Cp936ToUtf8("\xD2\xF4\xFE\xFE\xC0\xD6"), "音\uE4C5乐");
  // Bytes no table maps: a stray 0xFF, a lead byte without its trail byte, or before a byte that
  // cannot follow it (which keeps its own meaning), and a pair the code page leaves undefined.
  const std::string unmapped = "\uFFFD";
  EXPECT_EQ(Cp936ToUtf8("\xFF.txt"), unmapped + ".txt");
  EXPECT_EQ(Cp936ToUtf8("a\x81"), "a" + unmapped);
  EXPECT_EQ(Cp936ToUtf8("\x81 b"), unmapped + " b");
#ifdef _WIN32
  // Windows' own table gives the holes of the symbol rows private-use characters too (from U+E766).
  EXPECT_EQ(Cp936ToUtf8("\xA2\xFE"), "\uE771");
#else
  EXPECT_EQ(Cp936ToUtf8("\xA2\xFE"), unmapped);
#endif
  EXPECT_EQ(Cp936ToUtf8("\xFF\xFF"), Cp936ToUtf8("\xFF\xFF"));
  EXPECT_EQ(Cp936ToUtf8("plain ASCII"), "plain ASCII");
}

}  // namespace

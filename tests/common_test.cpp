// The helpers every folder shares: the rule for names from outside, byte order, ASCII case and web addresses.
#include <gtest/gtest.h>

#include <string>

#include "common/Ascii.h"
#include "common/Bytes.h"
#include "common/RelativePath.h"
#include "common/WebAddress.h"

namespace {

struct NameCase {
  std::string path;
  bool contained;
  const char* why;
};

// Every form a hostile list, archive or server may use to reach outside the game folder, and the
// harmless forms next to them that must keep working.
const NameCase kNames[] = {
    {"Data\\a.zip", true, "plain relative path"},
    {"Data/Sub\\a.zip", true, "mixed separators"},
    {"", true, "the folder itself"},
    {".", true, "the folder itself"},
    {".\\Data\\a.zip", true, "a leading \".\" stays in place"},
    {"Data\\.\\a.zip", true, "\".\" inside"},
    {"Data\\\\a.zip", true, "an empty component stays in place"},
    {"Data//a.zip", true, "an empty component stays in place"},
    {"Data\\", true, "a trailing separator names the folder"},
    {"a.", true, "trailing dot of a name: Windows trims it to \"a\", still inside"},
    {"a ", true, "trailing blank of a name: still inside"},
    {"..a\\b..", true, "dots next to other characters"},
    {"a/../b", true, "\"..\" takes back the name in front of it"},
    {"a/b/../../c", true, "back to the start, never above it"},
    {"\xC4\xE3\xBA\xC3\\\xCE\xC4.zip", true, "code page 936 bytes"},
    {std::string(300, 'n'), true, "length is bounded where the bytes are read, not here"},

    {"..", false, "climbs"},
    {"..\\x", false, "climbs"},
    {"../x", false, "climbs"},
    {"Data\\..\\..\\x", false, "climbs"},
    {"a\\..", true, "back to the folder itself"},
    {"...", false, "dots only: Windows trims it away"},
    {"...\\x", false, "dots only: Windows trims it away"},
    {". .", false, "dots and blanks only"},
    {".. ", false, "Windows trims it to \"..\""},
    {"a\\.. \\x", false, "Windows trims it to \"..\""},
    {"a\\..\t\\x", true, "a tab is not trimmed: an ordinary name"},
    {" ", false, "blanks only: Windows trims it away"},
    {"\\x", false, "root of the drive"},
    {"/etc/x", false, "root"},
    {"\\\\server\\share\\x", false, "UNC"},
    {"//server/share/x", false, "UNC"},
    {"\\\\?\\C:\\x", false, "long-path prefix"},
    {"C:\\x", false, "drive"},
    {"C:x", false, "drive-relative"},
    {"c:", false, "drive"},
    {"x.zip:stream", false, "alternate data stream"},
    {std::string("a\0b", 3), false, "NUL cuts the name short"},
    {std::string("a\\\0", 3), false, "NUL"},
    {std::string(250, 'n') + "\\..\\..\\x", false, "long and climbing"},
    {"a/../..", false, "climbs at the end"},

    {"CON", false, "a device in every folder"},
    {"Data\\nul.zip", false, "a device whatever the extension"},
    {"Data/Aux.tar.gz\\x", false, "a device as a folder"},
    {"prn .txt", false, "blanks after the stem are trimmed"},
    {"com1", false, "a port"},
    {"LPT9.log", false, "a port"},
    {"conout$", false, "the console's output"},
    {"COM0", true, "no port 0: an ordinary name"},
    {"console.txt", true, "a device name inside a longer stem"},
    {"Data\\nul_.zip", true, "an ordinary name"},
    {"xcon", true, "an ordinary name"},
    {"lpt", true, "an ordinary name"},
};

}  // namespace

TEST(RelativePath, EveryFormOfName) {
  for (const NameCase& c : kNames) {
    EXPECT_EQ(IsContainedRelativePath(c.path), c.contained) << '"' << c.path << "\": " << c.why;
  }
}

TEST(RelativePath, NamesOfOneFileShareTheirKey) {
  const std::string key = LocalNameKey("TarvoPatch\\Data\\big.zip");
  for (const char* same : {"TarvoPatch/Data/big.zip", "tarvopatch\\DATA/Big.ZIP", "TarvoPatch//Data\\.\\big.zip",
                           "TarvoPatch\\Music\\..\\Data\\big.zip", "TarvoPatch\\Data\\big.zip. "})
    EXPECT_EQ(LocalNameKey(same), key) << same;
  for (const char* other : {"TarvoPatch\\Data\\big.zi", "TarvoPatch\\Data\\big.zip\\x", "Data\\big.zip",
                            "TarvoPatch\\Data\\big\xC4.zip"})
    EXPECT_NE(LocalNameKey(other), key) << other;
}

TEST(Bytes, LittleEndianBothWays) {
  uint8_t buffer[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  StoreU32(buffer + 1, 0x3FC00000u);
  EXPECT_EQ(buffer[1], 0x00);
  EXPECT_EQ(buffer[4], 0x3F);
  EXPECT_EQ(buffer[5], 0xFF);
  EXPECT_EQ(LoadU32(buffer + 1), 0x3FC00000u);
  StoreU16(buffer, 0x1001);
  EXPECT_EQ(buffer[0], 0x01);
  EXPECT_EQ(LoadU16(buffer), 0x1001);
  const uint8_t high[4] = {0x80, 0x80, 0x80, 0x80};
  EXPECT_EQ(LoadU32(high), 0x80808080u);  // no sign from the top byte
  EXPECT_EQ(LoadU16(high), 0x8080);
}

TEST(Ascii, CaseOfAsciiLettersOnly) {
  EXPECT_TRUE(AsciiEqualNoCase("Music\\ZOMA1.qkn", "music\\zoma1.QKN"));
  EXPECT_FALSE(AsciiEqualNoCase("zoma1", "zoma10"));
  EXPECT_FALSE(AsciiEqualNoCase("[", "{"));  // 0x5B and 0x7B differ by the case bit but are not letters
  EXPECT_EQ(AsciiLower("\xC4\xE3" "ABC"), "\xC4\xE3" "abc");
  EXPECT_FALSE(AsciiEqualNoCase("\xC4", "\xE4"));  // bytes above ASCII keep their value
}

TEST(WebAddress, OnlyHttpAndHttps) {
  EXPECT_TRUE(IsWebAddress("http://www.tarvo.com/gameweb/notice.php"));
  EXPECT_TRUE(IsWebAddress("HTTPS://127.0.0.1:8080/"));
  for (const char* other : {"file:///root/notes.txt", "about:blank", "data:text/html,x", "javascript:alert(1)",
                            "ftp://127.0.0.1/", "httpx://a/", "http", "", " http://a/", "tarvo:http://a/"})
    EXPECT_FALSE(IsWebAddress(other)) << other;
}

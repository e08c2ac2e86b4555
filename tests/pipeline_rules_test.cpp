// The version arithmetic and the patch list format: the rules that decide what a run installs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "pipeline/PatchListFile.h"
#include "pipeline/VersionRules.h"
#include "support/TempDir.h"

using namespace pipeline;

TEST(VersionRules, HundredthsRoundHalfDownAndStayBounded) {
  EXPECT_EQ(Hundredths(1.23f), 123);
  EXPECT_EQ(Hundredths(0.0f), 0);
  EXPECT_EQ(Hundredths(1.005f), 100);  // 100.4999.. - 0.5 rounds up to 100
  EXPECT_EQ(Hundredths(2.5f), 250);
  // Untrusted server texts may read as huge or NaN; neither may overflow.
  EXPECT_GT(Hundredths(3e38f), 1000000);
  EXPECT_EQ(Hundredths(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_LT(Hundredths(-std::numeric_limits<float>::infinity()), 0);
}

TEST(VersionRules, NeedRule) {
  // No file value: a registry value of 0 always asks for the update, whatever the server says.
  EXPECT_TRUE(UpdateNeeded(0, 0, 0));
  EXPECT_TRUE(UpdateNeeded(0, 1.22f, 1.23f));
  EXPECT_FALSE(UpdateNeeded(0, 1.23f, 1.23f));
  EXPECT_FALSE(UpdateNeeded(0, 1.3f, 1.23f));
  // An up-to-date file value suppresses the update even when the registry is behind.
  EXPECT_FALSE(UpdateNeeded(1.23f, 1.0f, 1.23f));
  EXPECT_TRUE(UpdateNeeded(1.0f, 1.1f, 1.23f));
  // A file value behind but a registry value current: nothing to do.
  EXPECT_FALSE(UpdateNeeded(1.0f, 1.23f, 1.23f));
  // Equality is in hundredths, not in float bits.
  EXPECT_FALSE(UpdateNeeded(0, 1.2300001f, 1.23f));
}

TEST(VersionRules, DottedAndPlainTexts) {
  EXPECT_FLOAT_EQ(DottedVersion("1.2.3"), 1.23f);
  EXPECT_EQ(Hundredths(DottedVersion("1.2.3")), 123);
  EXPECT_EQ(DottedVersion("0.9.10"), 1.0f);
  EXPECT_FLOAT_EQ(DottedVersion("1.25"), 1.25f);
  EXPECT_FLOAT_EQ(DottedVersion("10.2.3"), 10.2f);
  EXPECT_FLOAT_EQ(DottedVersion("1.2"), 1.2f);
  EXPECT_EQ(DottedVersion(""), 0.0f);
  EXPECT_EQ(DottedVersion("..."), 0.0f);
  EXPECT_FLOAT_EQ(ServerVersion("1.2.3"), 1.2f);
  EXPECT_FLOAT_EQ(ServerVersion("1.25"), 1.25f);
  EXPECT_EQ(ServerVersion("abc"), 0.0f);
}

class LocalVersionFile : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(m_path) << text; }
  TempDir m_dir{"tarvo-versions"};
  std::filesystem::path m_path{m_dir / "VersionInfo2.dat"};
};

TEST_F(LocalVersionFile, FieldsTheScanReaches) {
  Write("Tarvo 1.5 2.25 1.23 1.2.3\n");
  LocalVersions v = ReadLocalVersions(m_path.string());
  EXPECT_FLOAT_EQ(v.launcher, 1.5f);
  EXPECT_FLOAT_EQ(v.client, 2.25f);
  EXPECT_FLOAT_EQ(v.patchLevel, 1.23f);
  EXPECT_FLOAT_EQ(v.music, 1.23f);

  Write("Tarvo 1.5 oops 3 4\n");  // the scan stops at the first field it cannot read
  v = ReadLocalVersions(m_path.string());
  EXPECT_FLOAT_EQ(v.launcher, 1.5f);
  EXPECT_EQ(v.client, 0.0f);
  EXPECT_EQ(v.patchLevel, 0.0f);
  EXPECT_EQ(v.music, 0.0f);

  Write(std::string(5000, 'x') + " 1 2 3 4");  // an overlong first word must not overflow
  v = ReadLocalVersions(m_path.string());
  EXPECT_EQ(v.music, 0.0f);
}

TEST_F(LocalVersionFile, MissingFileGivesZeros) {
  LocalVersions v = ReadLocalVersions(m_path.string());
  EXPECT_EQ(v.launcher, 0.0f);
  EXPECT_EQ(v.music, 0.0f);
}

namespace {
std::vector<std::string> Names(const PatchList& list) {
  std::vector<std::string> names;
  for (const PatchFileEntry& e : list.entries) names.push_back(e.m_strName);
  return names;
}
}  // namespace

TEST(PatchListFile, RecordsAreTakenLastFirstWithConsecutiveRepeatsOnce) {
  PatchList list;
  ASSERT_EQ(ParsePatchList("Tarvo 1.2.3 x\n"
                           "Patch\\A.zip 100 a 1\n"
                           "Patch\\B.zip 20 b 2\n"
                           "Patch\\B.zip 20 b 3\n"
                           "Patch\\C.zip 3 c 4\n"
                           "Patch\\B.zip 20 b 5\n",
                           list),
            PatchListResult::kOk);
  EXPECT_EQ(list.targetVersion, "1.2.3");
  EXPECT_EQ(Names(list), (std::vector<std::string>{"B.zip", "C.zip", "B.zip", "A.zip"}));
  EXPECT_EQ(list.totalBytes, 143u);
  EXPECT_EQ(list.entries.back().m_strPath, "Patch\\A.zip");
  EXPECT_EQ(list.entries.back().m_nExtra, 1);
  EXPECT_EQ(list.entries.front().m_nExtra, 5);
}

TEST(PatchListFile, EndOfListAndSkippedRecords) {
  PatchList list;
  // Size 0 ends the list even when records follow; a missing size reads as 0.
  ASSERT_EQ(ParsePatchList("a 1 b\nP\\A.zip 5 x 0\nP\\B.zip 0 x 0\nP\\C.zip 7 x 0\n", list), PatchListResult::kOk);
  EXPECT_EQ(Names(list), std::vector<std::string>{"A.zip"});
  ASSERT_EQ(ParsePatchList("a 1 b\nP\\A.zip many x 0\nP\\C.zip 7 x 0\n", list), PatchListResult::kOk);
  EXPECT_TRUE(list.entries.empty());
  // A header alone, or a last record without its fourth field.
  ASSERT_EQ(ParsePatchList("a 1 b", list), PatchListResult::kOk);
  EXPECT_TRUE(list.entries.empty());
  ASSERT_EQ(ParsePatchList("a 1 b P\\A.zip 5 x", list), PatchListResult::kOk);
  EXPECT_EQ(Names(list), std::vector<std::string>{"A.zip"});
  // No separator, or nothing after it: no file to fetch; the next record is still read.
  ASSERT_EQ(ParsePatchList("a 1 b\nA.zip 5 x 0\nData\\ 5 x 0\nData/ 5 x 0\nP\\Sub\\B.zip 6 x 0\n", list),
            PatchListResult::kOk);
  EXPECT_EQ(Names(list), std::vector<std::string>{"Sub\\B.zip"});
  EXPECT_EQ(list.totalBytes, 6u);
  // "/" separates as "\\" does; names go on with "\\" alone, the path stays as listed.
  ASSERT_EQ(ParsePatchList("a 1 b\nP/Q.zip 1 x 0\nP/Sub/C.zip 2 x 0\nP\\Sub/D.zip 3 x 0\n", list), PatchListResult::kOk);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"Sub\\D.zip", "Sub\\C.zip", "Q.zip"}));
  EXPECT_EQ(list.entries[1].m_strPath, "P/Sub/C.zip");
  EXPECT_EQ(list.totalBytes, 6u);
}

TEST(PatchListFile, HeaderMustCarryAVersion) {
  PatchList list;
  EXPECT_EQ(ParsePatchList("Tarvo v1.2 x\nP\\A.zip 5 x 0\n", list), PatchListResult::kBadHeader);
  EXPECT_EQ(ParsePatchList("", list), PatchListResult::kBadHeader);
  EXPECT_EQ(ParsePatchList("Tarvo", list), PatchListResult::kBadHeader);
  EXPECT_EQ(ParsePatchList("Tarvo " + std::string(40, '1') + " x", list), PatchListResult::kBadHeader);
}

TEST(PatchListFile, RecordsReachingOutsideTheGameFolderRefuseTheList) {
  const char* const unsafe[] = {"P\\..\\..\\x.zip", "..\\x.zip",    "P\\C:\\x.zip", "C:\\x.zip",
                                "\\P\\x.zip",       "P\\\\x.zip",   "/etc\\x.zip",  "P\\a/../../x.zip",
                                "P\\..",            "P\\x.zip:ads", "P//x.zip",     "P/../x.zip"};
  for (const char* path : unsafe) {
    PatchList list;
    std::string text = std::string("a 1 b\nP\\ok.zip 5 x 0\n") + path + " 5 x 0\n";
    EXPECT_EQ(ParsePatchList(text, list), PatchListResult::kBadRecord) << path;
  }
  PatchList list;
  EXPECT_EQ(ParsePatchList("a 1 b\nP\\" + std::string(300, 'x') + " 5 x 0\n", list), PatchListResult::kBadRecord);
  EXPECT_EQ(ParsePatchList("a 1 b\nP\\..x\\y..\\.\\z.zip 5 x 0\n", list), PatchListResult::kOk);
}

TEST(PatchListFile, ListNames) {
  EXPECT_EQ(PatchListName(5), "FileList_005.dat");
  EXPECT_EQ(PatchListName(123), "FileList_123.dat");
  EXPECT_EQ(PatchListName(1234), "FileList_1234.dat");
}

// The check of a published tree: a sound tree passes, and each way a tree can break a player's
// update is reported against the right file with its reason.
#include <gtest/gtest.h>

#include "publish/TreeCheck.h"
#include "publish/ZipWriter.h"
#include "publish_test_support.h"

namespace {

using namespace publish_test;

const std::array<std::string, 4> kDataOnly{"", "", "1.2", ""};
const std::array<std::string, 4> kEverything{"1.1", "1.1", "1.2", "1.5"};

class CheckTest : public PublishedWorld {
 protected:
  publish::Report Check(const std::array<std::string, 4>& versions = kEverything) {
    return publish::CheckTree({Root(), versions});
  }
  // The one problem the tree has: an error on `file` whose reason holds `reason`.
  void ExpectOnlyError(const publish::Report& report, const std::string& file, const std::string& reason) {
    std::ostringstream printed;
    report.Print(printed);
    ASSERT_EQ(report.Problems().size(), 1u) << printed.str();
    const publish::Problem& problem = report.Problems()[0];
    EXPECT_TRUE(problem.error) << printed.str();
    EXPECT_EQ(problem.file, file);
    EXPECT_NE(problem.reason.find(reason), std::string::npos) << printed.str();
  }
  std::string List(const char* name) const { return Remote(std::string("PatchInfo/") + name); }
  // Puts a record in front of the list's first one, so that it is installed last.
  void InsertRecord(const char* listName, const std::string& record) {
    std::string text = ReadText(List(listName));
    size_t firstRecord = text.find('\n') + 1;
    WriteText(List(listName), text.insert(firstRecord, record + "\r\n"));
  }
  // Lists the archive TarvoPatch/`name` in the level 1.1 list, installed after that level's own.
  void ListArchive(const std::string& name) {
    InsertRecord("FileList_110.dat",
                 "TarvoPatch\\" + name + " " + std::to_string(fs::file_size(Remote("TarvoPatch/" + name))) + " zip 0");
  }
  // An archive with entries named byte for byte as given, listed as above.
  void AddArchive(const std::string& name, const std::vector<publish::StoredName>& entries) {
    WriteText(m_dir / "entry", "entry data");
    publish::ZipWriter writer;
    std::string why;
    ASSERT_TRUE(writer.Create(Remote("TarvoPatch/" + name)));
    for (const publish::StoredName& entry : entries) ASSERT_TRUE(writer.AddFile(entry, m_dir / "entry", why)) << why;
    ASSERT_TRUE(writer.Finish());
    ListArchive(name);
  }
};

TEST_F(CheckTest, APublishedTreePassesWithOrWithoutTheAnnouncedVersions) {
  std::ostringstream out;
  EXPECT_EQ(publish::RunCheck({Root(), kEverything}, out), 0) << out.str();
  EXPECT_EQ(out.str(), Root() + ": 0 errors, 0 warnings; players can update\n");
  EXPECT_TRUE(Check(kDataOnly).Problems().empty());
  EXPECT_TRUE(publish::CheckTree({Root(), std::nullopt}).Problems().empty());
}

TEST_F(CheckTest, AMissingArchive) {
  fs::remove(Remote("TarvoPatch/Patch_100_110_01.zip"));
  ExpectOnlyError(Check(), "PatchInfo/FileList_100.dat", "names TarvoPatch/Patch_100_110_01.zip, which is missing");
}

TEST_F(CheckTest, AnArchiveWhoseSizeDiffersFromTheList) {
  const std::string archive = Remote("TarvoPatch/Patch_100_110_01.zip");
  const std::string size = std::to_string(fs::file_size(archive));
  std::string text = ReadText(List("FileList_100.dat"));
  WriteText(List("FileList_100.dat"), text.replace(text.find(size), size.size(), "12345"));
  ExpectOnlyError(Check(), "PatchInfo/FileList_100.dat",
                  "lists TarvoPatch/Patch_100_110_01.zip with 12345 bytes; the archive has " + size);
}

TEST_F(CheckTest, ACorruptedEntry) {
  // The first entry's data starts behind its 30-byte local header and its name.
  const std::string archive = Remote("TarvoPatch/Patch_100_110_01.zip");
  std::string bytes = ReadText(archive);
  const size_t nameLength = static_cast<uint8_t>(bytes[26]) | static_cast<uint8_t>(bytes[27]) << 8;
  bytes[30 + nameLength + 10] ^= 0x55;
  WriteText(archive, bytes);
  ExpectOnlyError(Check(), "TarvoPatch/Patch_100_110_01.zip", "entry 'Data\\Sub\\new.dat' is corrupted");
}

TEST_F(CheckTest, AnEntryNameTheClientRefuses) {
  AddArchive("Escape.zip", {{"Data/../../escape.dat", false}});
  ExpectOnlyError(Check(), "TarvoPatch/Escape.zip", "entry 'Data\\..\\..\\escape.dat': the client refuses the name");
}

TEST_F(CheckTest, ArchivesOfOtherToolsPassOrFailAsTheClientUnpacksThem) {
  // bsdtar writes data descriptors, which the client takes; 7-Zip's Deflate64 it does not.
  WriteText(m_dir / "other/Data/extra.dat", Compressible(20000, 'x'));
  ASSERT_EQ(install_test::RunShell("cd '" + std::string(m_dir / "other") + "' && bsdtar --format zip -cf '" +
                                   Remote("TarvoPatch/Bsdtar.zip") + "' Data && 7z a -tzip -mm=Deflate64 -bd -bso0 '" +
                                   Remote("TarvoPatch/Deflate64.zip") + "' Data/extra.dat"),
            0);
  ListArchive("Bsdtar.zip");
  EXPECT_TRUE(Check().Problems().empty());
  ListArchive("Deflate64.zip");
  ExpectOnlyError(Check(), "TarvoPatch/Deflate64.zip", "entry 'Data\\extra.dat' is compressed with Deflate64");
}

TEST_F(CheckTest, EntriesThatNeedAFileToBeAFolderOrAFolderAFile) {
  // Level 1.0 installs Data/a.dat; level 1.1 installs Data/Sub/new.dat and then the archive here.
  const char* const kFailsEveryRun = "a patch cannot remove a file, so the client fails this level";
  const char* const kNeverInstalled = "a patch cannot remove a folder, so the file is never installed";
  struct Case {
    const char* what;
    std::vector<publish::StoredName> entries;
    std::string reason;
  } cases[] = {
      {"a file of an earlier level", {{"Data/a.dat/m1.dat"}},
       "entry 'Data\\a.dat\\m1.dat' needs a folder where TarvoPatch/Patch_100_110_01.zip installs the file "
       "Data/a.dat: " + std::string(kFailsEveryRun)},
      {"a file of the same level", {{"Data/Sub/new.dat/m1.dat"}},
       "needs a folder where TarvoPatch/Patch_110_120_01.zip installs the file Data/Sub/new.dat"},
      {"a folder of the same level", {{"data/sub"}},
       "entry 'data\\sub' is a file where TarvoPatch/Patch_110_120_01.zip makes the folder Data/Sub: " +
           std::string(kNeverInstalled)},
      {"a file of the same archive", {{"Maps"}, {"Maps/m1.dat"}},
       "entry 'Maps\\m1.dat' needs a folder where an earlier entry of this archive installs the file Maps"},
      {"a folder of the same archive", {{"Maps/m1.dat"}, {"maps"}},
       "entry 'maps' is a file where an earlier entry of this archive makes the folder Maps"},
  };
  const std::string list = ReadText(List("FileList_110.dat"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteText(List("FileList_110.dat"), list);
    AddArchive("Clash.zip", c.entries);
    ExpectOnlyError(Check(), "TarvoPatch/Clash.zip", c.reason);
  }
}

TEST_F(CheckTest, ARecordOfSizeZeroInTheMiddleOfAList) {
  InsertRecord("FileList_110.dat", "TarvoPatch\\Patch_110_120_01.zip 0 zip 0");
  ExpectOnlyError(Check(), "PatchInfo/FileList_110.dat",
                  "record 'TarvoPatch\\Patch_110_120_01.zip' has size 0 and ends the list");
}

TEST_F(CheckTest, ALevelWithoutItsList) {
  fs::remove(List("FileList_110.dat"));
  ExpectOnlyError(Check(kDataOnly), "PatchInfo/FileList_100.dat",
                  "leads to 1.1, but PatchInfo/FileList_110.dat is missing");
}

TEST_F(CheckTest, ALoopOfLevels) {
  std::string text = ReadText(List("FileList_110.dat"));
  WriteText(List("FileList_110.dat"), text.replace(text.find(" 1.2 "), 5, " 1.0 "));
  ExpectOnlyError(Check(kDataOnly), "PatchInfo/FileList_110.dat",
                  "leads back to PatchInfo/FileList_100.dat: players patch round FileList_100.dat, FileList_110.dat");
}

TEST_F(CheckTest, AMissingLauncherCountsOnlyWhenALauncherIsAnnounced) {
  fs::remove(Remote("TarvoPatch/Tarvo.exe"));
  EXPECT_TRUE(Check(kDataOnly).Problems().empty());
  ExpectOnlyError(Check(), "TarvoPatch/Tarvo.exe", "is missing; the launcher update (version 1.1)");
}

TEST_F(CheckTest, AMusicListNamingAMissingFile) {
  fs::remove(Remote("TarvoMusic/zoma5_2.qkn"));
  ExpectOnlyError(Check(), "TarvoPatch/QKNList.dat", "names music 131077 (TarvoMusic/zoma5_2.qkn), which is missing");
}

TEST_F(CheckTest, EveryProblemIsALineAndErrorsFailTheCheck) {
  fs::remove(Remote("TarvoPatch/Tarvo.exe"));
  fs::remove(Remote("TarvoPatch/TarvoPatchClient.exe"));
  std::ostringstream out;
  EXPECT_EQ(publish::RunCheck({Root(), kEverything}, out), 1);
  EXPECT_EQ(out.str(),
            "TarvoPatch/Tarvo.exe: error: is missing; the launcher update (version 1.1) stops for every player behind "
            "it\n"
            "TarvoPatch/TarvoPatchClient.exe: error: is missing; the patch client update (version 1.1) stops for "
            "every player behind it\n" +
                Root() + ": 2 errors, 0 warnings; some players' updates would fail\n");
}

TEST_F(CheckTest, OdditiesThatBreakNoUpdateAreWarningsAndPass) {
  // A list of a level that is not behind, one under a name the client never asks for, and a song
  // older than the list says (fetched again on every run, but fetched).
  fs::copy_file(List("FileList_110.dat"), List("FileList_120.dat"));
  fs::copy_file(List("FileList_110.dat"), List("FileList_05.dat"));
  WriteText(Remote("TarvoMusic/zoma2.qkn"), MusicBytes(2, 1.0f));
  std::ostringstream out;
  EXPECT_EQ(publish::RunCheck({Root(), kEverything}, out), 0);
  EXPECT_NE(out.str().find("PatchInfo/FileList_05.dat: warning: the client never asks for this name; it asks for "
                           "FileList_005.dat\n"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("PatchInfo/FileList_120.dat: warning: is never asked for"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("TarvoMusic/zoma2.qkn: warning: is older than the list says"), std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find(": 0 errors, 3 warnings; players can update"), std::string::npos) << out.str();
}

}  // namespace

#include "app/PatchClientDlg.h"
#include "install_test_support.h"
#include "platform/files.h"
#include "support/DialogHarness.h"

using namespace install_test;

namespace {

class FoldersTest : public ScratchFolder {
 protected:
  RecordingFrontEnd m_frontEnd;
  CPatchClientDlg m_dlg{&m_frontEnd};
};

TEST_F(FoldersTest, MakeDirsCreatesEveryLevel) {
  CPatchClientDlg::MakeDirs("Image\\Temp\\Deep");
  EXPECT_TRUE(fs::is_directory("Image/Temp/Deep"));
  CPatchClientDlg::MakeDirs("");
  CPatchClientDlg::MakeDirs(nullptr);

  fs::create_directory("inner");
  fs::current_path("inner");
  CPatchClientDlg::MakeDirs("..\\x\\y");
  EXPECT_TRUE(fs::is_directory(Game() / "x/y"));

  // Network paths have no place here: nothing may appear at the root of the machine.
  ASSERT_FALSE(fs::exists("/tarvo-server"));
  CPatchClientDlg::MakeDirs("\\\\tarvo-server\\share\\d");
  EXPECT_FALSE(fs::exists("/tarvo-server"));
}

TEST_F(FoldersTest, EnsureFolderAndFileFolder) {
  EXPECT_EQ(m_dlg.EnsureFileFolder("plain.zip"), 1);
  EXPECT_EQ(m_dlg.EnsureFileFolder("\\rooted.zip"), 1);
  EXPECT_EQ(Listing(Game()), "");

  EXPECT_EQ(m_dlg.EnsureFileFolder("new\\deeper\\x\\file.zip"), 1);
  EXPECT_TRUE(fs::is_directory("new/deeper/x"));
  EXPECT_EQ(m_dlg.EnsureFolder("NEW\\Deeper"), 1);  // found in another case, nothing new made
  EXPECT_EQ(Listing(Game()), "new/\nnew/deeper/\nnew/deeper/x/\n");

  WriteText("blocker", "file");
  EXPECT_EQ(m_dlg.EnsureFolder("blocker"), 0);
  EXPECT_EQ(m_dlg.EnsureFileFolder("blocker\\inside\\f.zip"), 0);

  // List paths that leave the game folder are refused, not made elsewhere.
  for (const char* path : {"..\\..\\escape\\f.zip", "\\abs\\f.zip", "C:\\x\\f.zip", "\\\\srv\\share\\f.zip"}) {
    EXPECT_EQ(m_dlg.EnsureFileFolder(path), 0) << path;
  }
  EXPECT_FALSE(fs::exists(m_root.parent_path() / "escape"));
  EXPECT_FALSE(fs::exists("/abs"));
}

TEST_F(FoldersTest, EnsureFileFolderSkipsTrailBytesOfCodePage936) {
  // "乗" is 0x81 0x5C in code page 936: its second byte is no separator.
  std::string gbk = "dir\\\x81\\file";
  EXPECT_EQ(m_dlg.EnsureFileFolder(gbk), 1);
  EXPECT_TRUE(fs::is_directory("dir"));
  EXPECT_EQ(Listing(Game()), "dir/\n");
}

class MusicMoveTest : public FoldersTest {
 protected:
  void SetUp() override {
    FoldersTest::SetUp();
    fs::create_directories("Music/Temp");
  }
  int Move(int deleteOthers) { return m_dlg.MoveMusicFromTemp(Game().c_str(), deleteOthers); }
};

TEST_F(MusicMoveTest, ReplacesOldSongsAndRemovesTheTempFolder) {
  WriteText("Music/zoma12.qkn", "old 12");
  ASSERT_TRUE(platform::SetFileAttributes("Music/zoma12.qkn", platform::kFileAttributeReadOnly));
  WriteText("Music/Temp/zoma12.qkn", "new 12");
  WriteText("Music/Temp/zoma13.qkn", "new 13");  // no old file: thrown away
  WriteText("Music/xyzqkn", "old xyz");
  WriteText("Music/Temp/xyzqkn", "new xyz");
  fs::current_path("/");
  EXPECT_EQ(Move(0), 1);
  EXPECT_EQ(fs::current_path(), Game());
  EXPECT_EQ(ReadText("Music/zoma12.qkn"), "new 12");
  EXPECT_EQ(ReadText("Music/xyzqkn"), "new xyz");
  EXPECT_EQ(Listing("Music"), "xyzqkn\nzoma12.qkn\n");
  EXPECT_TRUE(m_frontEnd.Messages().empty());
}

TEST_F(MusicMoveTest, OtherFilesDependOnDeleteOthers) {
  WriteText("Music/zoma14.qkn", "old");
  WriteText("Music/Temp/ZOMA14.QKN", "upper case is no music");
  WriteText("Music/Temp/readme.txt", "text");
  EXPECT_EQ(Move(0), 1);
  EXPECT_EQ(Listing("Music"), "Temp/\nTemp/ZOMA14.QKN\nTemp/readme.txt\nzoma14.qkn\n");
  EXPECT_EQ(ReadText("Music/zoma14.qkn"), "old");

  EXPECT_EQ(Move(1), 1);
  EXPECT_EQ(Listing("Music"), "zoma14.qkn\n");

  // A sub-folder is never removed, so the temporary folder stays.
  fs::create_directories("Music/Temp/Sub");
  WriteText("Music/Temp/junk.bin", "x");
  EXPECT_EQ(Move(1), 1);
  EXPECT_EQ(Listing("Music"), "Temp/\nTemp/Sub/\nzoma14.qkn\n");
}

TEST_F(MusicMoveTest, SongsInUseStayAsTheyAre) {
  WriteText("Music/zoma1.qkn", "playing");
  WriteText("Music/Temp/zoma1.qkn", "new");
  platform::FileHandle player;
  ASSERT_TRUE(player.Open("Music/zoma1.qkn", platform::kGenericRead, platform::kShareNone, platform::kOpenExisting));
  EXPECT_EQ(Move(1), 1);
  EXPECT_EQ(ReadText("Music/zoma1.qkn"), "playing");
  EXPECT_FALSE(fs::exists("Music/Temp"));
}

TEST_F(MusicMoveTest, CreatesTheTempFolderOrFailsWithAMessage) {
  fs::remove_all("Music/Temp");
  EXPECT_EQ(Move(1), 1);
  EXPECT_FALSE(fs::exists("Music/Temp"));  // made, found empty, removed

  fs::remove_all("Music");
  fs::current_path("/");
  EXPECT_EQ(Move(1), 0);
  EXPECT_EQ(fs::current_path(), Game());
  EXPECT_EQ(m_frontEnd.Messages(), std::vector<std::string>{"Music patch failed.."});
  EXPECT_FALSE(fs::exists("Music"));
}

TEST_F(MusicMoveTest, LinksAreNeverFollowedToDeleteOrReplace) {
  // A linked scratch folder fails the move instead of emptying wherever it points.
  WriteText(m_root / "elsewhere/zoma12.qkn", "unrelated");
  WriteText(m_root / "elsewhere/notes.txt", "unrelated");
  WriteText("Music/zoma12.qkn", "old 12");
  fs::remove_all("Music/Temp");
  fs::create_directory_symlink(m_root / "elsewhere", "Music/Temp");
  EXPECT_EQ(Move(1), 0);
  EXPECT_EQ(m_frontEnd.Messages(), std::vector<std::string>{"Music patch failed.."});
  EXPECT_EQ(fs::current_path(), Game());
  EXPECT_EQ(Listing(m_root / "elsewhere"), "notes.txt\nzoma12.qkn\n");
  EXPECT_EQ(ReadText("Music/zoma12.qkn"), "old 12");
  // Nor does a patch file get a place there.
  EXPECT_EQ(m_dlg.EnsureFileFolder("music\\TEMP\\PatchMusic_1.zip"), 0);
  EXPECT_EQ(m_dlg.EnsureFileFolder("Music\\PatchMusic_1.zip"), 1);

  // A song that is a link is replaced by the new file; the file it pointed at stays.
  fs::remove("Music/Temp");
  fs::remove("Music/zoma12.qkn");
  fs::create_symlink(m_root / "elsewhere/zoma12.qkn", "Music/zoma12.qkn");
  WriteText("Music/Temp/zoma12.qkn", "new 12");
  EXPECT_EQ(Move(1), 1);
  EXPECT_FALSE(fs::is_symlink("Music/zoma12.qkn"));
  EXPECT_EQ(ReadText("Music/zoma12.qkn"), "new 12");
  EXPECT_EQ(ReadText(m_root / "elsewhere/zoma12.qkn"), "unrelated");
}

TEST_F(MusicMoveTest, ReplacedSongsKeepTheirModes) {
  WriteText("Music/zoma12.qkn", "old 12");
  fs::permissions("Music/zoma12.qkn", fs::perms(0600));
  WriteText("Music/Temp/zoma12.qkn", "new 12");
  fs::permissions("Music/Temp/zoma12.qkn", fs::perms(0644));
  EXPECT_EQ(Move(1), 1);
  EXPECT_EQ(ReadText("Music/zoma12.qkn"), "new 12");
  EXPECT_EQ(fs::status("Music/zoma12.qkn").permissions() & fs::perms::all, fs::perms(0600));
}

TEST_F(FoldersTest, ClearPatchListReleasesOnce) {
  for (int i = 0; i < 3; ++i) m_dlg.m_pPatchList->push_back(PatchFileEntry{"p", "n", i, 0});
  m_dlg.ClearPatchList();
  EXPECT_EQ(m_dlg.m_pPatchList, nullptr);
  m_dlg.ClearPatchList();
  EXPECT_EQ(m_dlg.m_pPatchList, nullptr);
}

}  // namespace

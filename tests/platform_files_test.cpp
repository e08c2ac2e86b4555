#include <gtest/gtest.h>

#include "support/FileHeldElsewhere.h"
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/files.h"
#include "platform_files_fixture.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

TEST_F(FilesTest, ResolvesEachComponentWithoutRegardToCase) {
  Write("Music/zoma1.qkn", "x");
  EXPECT_EQ(ResolvePath("music\\ZOMA1.QKN"), "Music/zoma1.qkn");
  EXPECT_EQ(ResolvePath("MUSIC/Temp\\new.qkn"), "Music/Temp/new.qkn");  // missing parts kept as written
  EXPECT_EQ(ResolvePath(".\\music\\"), "./Music/");
  EXPECT_EQ(ResolvePath((m_root.string() + "\\MUSIC\\Zoma1.qkn")), (m_root / "Music/zoma1.qkn").string());
  EXPECT_TRUE(FileExists("MUSIC\\ZOMA1.qkn"));
  EXPECT_TRUE(DirectoryExists("music"));
  EXPECT_FALSE(FileExists("music"));
  EXPECT_EQ(GetFileAttributes("nothing\\here"), kInvalidFileAttributes);

  // An exact match wins over a case variant, and of several variants the choice is stable.
  Write("Data/a.txt", "exact");
  Write("DATA/a.txt", "upper");
  EXPECT_EQ(ResolvePath("Data\\A.TXT"), "Data/a.txt");
  EXPECT_EQ(ResolvePath("data\\a.txt"), "DATA/a.txt");

  ASSERT_TRUE(SetCurrentDirectory("MUSIC"));
  EXPECT_EQ(GetCurrentDirectory(), (m_root / "Music").string());
  EXPECT_TRUE(FileExists("Zoma1.QKN"));
  EXPECT_FALSE(SetCurrentDirectory("nowhere"));
}

TEST_F(FilesTest, CachedListingsKeepCaseVariantsOnOneName) {
  Write("Data/Old.txt", "x");
  platform::ScopedPathCache cache;
  EXPECT_EQ(ResolvePath("data\\OLD.TXT"), "Data/Old.txt");
  EXPECT_EQ(ResolvePath("DATA\\new.txt"), "Data/new.txt");
  EXPECT_EQ(ResolvePath("data\\NEW.TXT"), "Data/new.txt");  // handed out before, not yet made
  Write("Data/new.txt", "y");
  EXPECT_EQ(ResolvePath("Data\\New.Txt"), "Data/new.txt");
}

// The permission bits of a file, as a number (0755).
unsigned Mode(const fs::path& path) {
  struct stat st{};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST_F(FilesTest, PutFileInPlaceKeepsTheNamesModesAndMakesProgramsStartable) {
  Write("old.sh", "old");
  fs::permissions("old.sh", fs::perms(0750));
  Write("new.sh", "new");
  fs::permissions("new.sh", fs::perms(0644));
  EXPECT_EQ(PutFileInPlace("new.sh", "OLD.SH", true), PlaceResult::kPlaced);
  EXPECT_EQ(Read("old.sh"), "new");
  EXPECT_EQ(Mode("old.sh"), 0750u);

  for (const char* name : {"Zobi.exe", "SETUP.EXE", "x.dat"}) {
    Write("part", name);
    fs::permissions("part", fs::perms(0640));
    EXPECT_EQ(PutFileInPlace("part", name, false), PlaceResult::kPlaced) << name;
  }
  EXPECT_EQ(Mode("Zobi.exe"), 0750u);  // execute for whoever may read
  EXPECT_EQ(Mode("SETUP.EXE"), 0750u);
  EXPECT_EQ(Mode("x.dat"), 0640u);
  Write("part", "again");
  fs::permissions("Zobi.exe", fs::perms(0600));
  EXPECT_EQ(PutFileInPlace("part", "zobi.exe", true), PlaceResult::kPlaced);
  EXPECT_EQ(Mode("Zobi.exe"), 0700u);  // a program stays startable, whatever the old copy had

  // Targets that refuse, as they would refuse a writer on Windows; anything else fails.
  Write("part", "p");
  EXPECT_EQ(PutFileInPlace("part", "x.dat", false), PlaceResult::kTargetRefused);
  fs::create_directory("Folder");
  EXPECT_EQ(PutFileInPlace("part", "folder", true), PlaceResult::kTargetRefused);
  ASSERT_TRUE(SetFileAttributes("x.dat", kFileAttributeReadOnly));
  EXPECT_EQ(PutFileInPlace("part", "x.dat", true), PlaceResult::kTargetRefused);
  {
    FileHeldElsewhere held((m_root / "old.sh").string());
    ASSERT_TRUE(held.Holding());
    EXPECT_EQ(PutFileInPlace("part", "old.sh", true), PlaceResult::kTargetRefused);
  }
  EXPECT_EQ(PutFileInPlace("missing", "y.dat", true), PlaceResult::kFailed);
  EXPECT_EQ(PutFileInPlace("part", std::string(256, 'n'), true), PlaceResult::kFailed);
  EXPECT_EQ(Read("part"), "p");
}

TEST_F(FilesTest, LinksInAFilesPlaceAreNeverWrittenThrough) {
  Write("outside/song.qkn", "outside");
  fs::permissions("outside/song.qkn", fs::perms(0444));
  fs::create_directory("game");
  fs::create_symlink(m_root / "outside/song.qkn", "game/song.qkn");
  fs::create_symlink(m_root / "outside", "game/Linked");
  fs::create_symlink(m_root / "outside/nothing", "game/dangling");

  // Read through, never written through: not opened, truncated, appended, created nor chmod-ed.
  FileHandle handle;
  EXPECT_TRUE(handle.Open("game/song.qkn", kGenericRead, kShareRead, kOpenExisting));
  handle.Close();
  for (uint32_t disposition : {kOpenExisting, kOpenAlways, kCreateAlways}) {
    EXPECT_FALSE(handle.Open("game/song.qkn", kGenericRead | kGenericWrite, kShareNone, disposition));
  }
  EXPECT_FALSE(handle.Open("game/dangling", kGenericWrite, kShareNone, kOpenAlways));
  for (const char* mode : {"wb", "ab", "r+b"}) EXPECT_EQ(OpenStdio("game/song.qkn", mode), nullptr) << mode;
  EXPECT_EQ(GetFileAttributes("game/song.qkn"), kFileAttributeNormal);
  EXPECT_TRUE(SetFileAttributes("game/song.qkn", kFileAttributeNormal));
  EXPECT_FALSE(fs::exists("outside/nothing"));
  EXPECT_EQ(Mode("outside/song.qkn"), 0444u);

  // Replacing or deleting acts on the link itself.
  Write("game/new.qkn", "new");
  EXPECT_EQ(PutFileInPlace("game/new.qkn", "game/song.qkn", true), PlaceResult::kPlaced);
  EXPECT_FALSE(fs::is_symlink("game/song.qkn"));
  EXPECT_EQ(Read("game/song.qkn"), "new");
  EXPECT_TRUE(DeleteFile("game/dangling"));
  EXPECT_EQ(Read("outside/song.qkn"), "outside");

  // A folder link is followed as a junction is, but is no scratch folder of the game's own.
  EXPECT_TRUE(DirectoryExists("game/linked"));
  EXPECT_EQ(Read("game/Linked/song.qkn"), "outside");
  EXPECT_EQ(ResolvePath("game/linked/../Song.qkn"), "game/song.qkn");  // ".." as Windows takes it
  EXPECT_EQ(ResolvePath("game\\missing\\..\\LINKED"), "game/Linked");
  EXPECT_EQ(ResolvePath("game\\.."), ".");
  EXPECT_EQ(ResolvePath("..\\x"), "../x");
  EXPECT_FALSE(SetCurrentDirectoryNoLink("game/linked"));
  EXPECT_EQ(fs::current_path(), m_root);
  EXPECT_TRUE(SetCurrentDirectoryNoLink("GAME"));
  EXPECT_EQ(fs::current_path(), m_root / "game");
}

TEST_F(FilesTest, SharingHoldsAcrossProcesses) {
  Write("shared.bin", "data");
  FileHeldElsewhere holder("shared.bin");
  ASSERT_TRUE(holder.Holding());
  EXPECT_FALSE(DeleteFile("shared.bin"));
  FileHandle mine;
  EXPECT_FALSE(mine.Open("shared.bin", kGenericRead, kShareRead, kOpenExisting));
  EXPECT_TRUE(holder.Release());
  EXPECT_TRUE(DeleteFile("shared.bin"));
}

// A program being started holds a copy of every descriptor, and so the writer's lock, until its
// exec; a file written and closed just then must still open and delete.
TEST_F(FilesTest, ALockLeftOnlyInAStartingProgramIsWaitedOut) {
  Write("list.dat", "records");
  FileHandle writer;
  ASSERT_TRUE(writer.Open("list.dat", kGenericWrite, kShareNone, kOpenExisting));
  pid_t starting = fork();
  if (starting == 0) {
    usleep(30 * 1000);  // between fork and exec
    _exit(0);
  }
  ASSERT_GT(starting, 0);
  writer.Close();
  FileHandle reader;
  EXPECT_TRUE(reader.Open("list.dat", kGenericRead, kShareRead, kOpenExisting));
  reader.Close();
  int status = 0;
  waitpid(starting, &status, 0);
  EXPECT_TRUE(DeleteFile("list.dat"));
}

}  // namespace

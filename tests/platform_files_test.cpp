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
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

class FilesTest : public ::testing::Test {
 protected:
  static void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path().empty() ? "." : path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  TempDir m_dir{"tarvo-files"};
  fs::path m_root{m_dir.Path()};
  CurrentFolder m_current{m_root};
};

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

TEST_F(FilesTest, ReadOnlyFilesRefuseWritersAndDeletionEvenForRoot) {
  Write("ro.txt", "keep");
  ASSERT_TRUE(SetFileAttributes("RO.TXT", kFileAttributeReadOnly));
  EXPECT_EQ(GetFileAttributes("ro.txt"), kFileAttributeReadOnly);
  EXPECT_EQ(OpenStdio("ro.txt", "wb"), nullptr);
  EXPECT_EQ(OpenStdio("ro.txt", "ab"), nullptr);
  EXPECT_EQ(OpenStdio("ro.txt", "r+b"), nullptr);
  FileHandle handle;
  EXPECT_FALSE(handle.Open("ro.txt", kGenericWrite, kShareNone, kOpenExisting));
  EXPECT_FALSE(handle.Open("ro.txt", kGenericRead, kShareRead, kCreateAlways));
  EXPECT_FALSE(DeleteFile("ro.txt"));
  Write("other.txt", "new");
  EXPECT_FALSE(MoveFileReplaceExisting("other.txt", "ro.txt"));
  EXPECT_EQ(Read("ro.txt"), "keep");

  FILE* reader = OpenStdio("ro.txt", "rb");
  ASSERT_NE(reader, nullptr);
  fclose(reader);

  ASSERT_TRUE(SetFileAttributes("ro.txt", kFileAttributeNormal));
  EXPECT_EQ(GetFileAttributes("ro.txt"), kFileAttributeNormal);
  EXPECT_TRUE(DeleteFile("ro.txt"));
  EXPECT_FALSE(DeleteFile("ro.txt"));
}

TEST_F(FilesTest, FoldersFollowWindowsRules) {
  EXPECT_TRUE(CreateDirectory("Image"));
  EXPECT_FALSE(CreateDirectory("IMAGE"));  // exists, in another case
  EXPECT_FALSE(CreateDirectory("C:"));
  EXPECT_FALSE(CreateDirectory("missing\\child"));
  EXPECT_TRUE(CreateDirectory("image\\Temp"));
  EXPECT_TRUE(fs::is_directory("Image/Temp"));
  EXPECT_FALSE(RemoveDirectory("image"));  // not empty
  EXPECT_FALSE(DeleteFile("image\\temp"));  // a folder is no file
  EXPECT_TRUE(RemoveDirectory("IMAGE\\TEMP"));
  EXPECT_TRUE(RemoveDirectory("image"));
  EXPECT_EQ(GetFileAttributes("image"), kInvalidFileAttributes);
}

TEST_F(FilesTest, MoveRefusesAnExistingDestination) {
  Write("a.txt", "a");
  Write("b.txt", "b");
  EXPECT_FALSE(MoveFile("a.txt", "B.TXT"));
  EXPECT_EQ(Read("b.txt"), "b");
  EXPECT_TRUE(MoveFileReplaceExisting("A.TXT", "B.TXT"));
  EXPECT_EQ(Read("b.txt"), "a");
  EXPECT_FALSE(fs::exists("a.txt"));
  EXPECT_TRUE(MoveFile("b.txt", "c.txt"));
  EXPECT_FALSE(MoveFile("b.txt", "d.txt"));
  fs::create_directory("dir");
  EXPECT_FALSE(MoveFileReplaceExisting("c.txt", "dir"));
  EXPECT_TRUE(fs::exists("c.txt"));
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

TEST_F(FilesTest, SharingHoldsWithinTheProcess) {
  Write("f.bin", "0123456789");
  {
    FileHandle exclusive;
    ASSERT_TRUE(exclusive.Open("F.BIN", kGenericRead | kGenericWrite, kShareNone, kOpenExisting));
    FileHandle second;
    EXPECT_FALSE(second.Open("f.bin", kGenericRead, kShareRead, kOpenExisting));
    EXPECT_EQ(OpenStdio("f.bin", "rb"), nullptr);
    EXPECT_EQ(OpenStdio("f.bin", "wb"), nullptr);  // refused before truncating anything
    EXPECT_FALSE(DeleteFile("f.bin"));
    EXPECT_FALSE(MoveFile("f.bin", "g.bin"));
    EXPECT_EQ(exclusive.Size(), 10);
  }
  EXPECT_EQ(Read("f.bin"), "0123456789");
  {
    FileHandle a, b;
    ASSERT_TRUE(a.Open("f.bin", kGenericRead, kShareRead, kOpenExisting));
    ASSERT_TRUE(b.Open("f.bin", kGenericRead, kShareRead, kOpenExisting));
    FileHandle writer;
    EXPECT_FALSE(writer.Open("f.bin", kGenericWrite, kShareNone, kOpenExisting));
    EXPECT_FALSE(DeleteFile("f.bin"));
    char buffer[4];
    EXPECT_EQ(a.Seek(-4, kFileEnd), 6);
    EXPECT_EQ(a.Read(buffer, 8), 4);
    EXPECT_EQ(std::string(buffer, 4), "6789");
  }
  FILE* stream = OpenStdio("f.bin", "rb");
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(DeleteFile("f.bin"));
  fclose(stream);
  EXPECT_TRUE(DeleteFile("f.bin"));
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

TEST_F(FilesTest, DispositionsOfCreateFile) {
  FileHandle handle;
  EXPECT_FALSE(handle.Open("new.bin", kGenericRead, kShareRead, kOpenExisting));
  ASSERT_TRUE(handle.Open("new.bin", kGenericWrite, kShareNone, kCreateNew));
  EXPECT_EQ(handle.Write("abcdef", 6), 6);
  handle.Close();
  EXPECT_FALSE(handle.Open("NEW.BIN", kGenericWrite, kShareNone, kCreateNew));
  ASSERT_TRUE(handle.Open("NEW.BIN", kGenericWrite, kShareNone, kOpenAlways));
  EXPECT_EQ(handle.Size(), 6);
  ASSERT_TRUE(handle.Open("new.bin", kGenericWrite, kShareNone, kCreateAlways));
  EXPECT_EQ(handle.Size(), 0);
  handle.Close();
  EXPECT_FALSE(fs::exists("NEW.BIN"));  // the existing name was reused, not a case variant made
  fs::create_directory("folder");
  EXPECT_FALSE(handle.Open("folder", kGenericRead, kShareRead, kOpenExisting));
  EXPECT_EQ(OpenStdio("folder", "rb"), nullptr);
}

TEST_F(FilesTest, SearchMatchesPatternsWithoutRegardToCase) {
  for (const char* name : {"zoma1.qkn", "ZOMA2.QKN", "xyzqkn", "readme", "notes.txt"}) Write(fs::path("Music/Temp") / name, "x");
  fs::create_directory("Music/Temp/Sub");
  auto list = [](const char* pattern) {
    std::string names;
    FileFind find;
    for (bool more = find.FindFirst(pattern); more; more = find.FindNext()) {
      if (find.IsDots()) continue;
      names += find.Name() + (find.IsDirectory() ? "/ " : " ");
    }
    return names;
  };
  EXPECT_EQ(list("music\\temp\\*.*"), "notes.txt readme Sub/ xyzqkn zoma1.qkn ZOMA2.QKN ");
  EXPECT_EQ(list("MUSIC/TEMP/*.qkn"), "zoma1.qkn ZOMA2.QKN ");
  EXPECT_EQ(list("music\\temp\\zoma?.QKN"), "zoma1.qkn ZOMA2.QKN ");
  EXPECT_EQ(list("music\\temp\\SUB"), "Sub/ ");
  EXPECT_EQ(list("music\\temp\\*.bmp"), "");
  EXPECT_EQ(list("nowhere\\*.*"), "");
  EXPECT_EQ(list("music\\temp\\"), "");

  FileFind find;
  ASSERT_TRUE(find.FindFirst("Music\\Temp\\notes.TXT"));
  EXPECT_EQ(find.Size(), 1u);
  EXPECT_FALSE(find.FindNext());
}

TEST(Wildcard, MatchesAsWindowsDoes) {
  EXPECT_TRUE(WildcardMatch("*", ""));
  EXPECT_TRUE(WildcardMatch("*.*", "xyzqkn"));
  EXPECT_TRUE(WildcardMatch("a*b*c", "aXbYbZc"));
  EXPECT_FALSE(WildcardMatch("a*b*c", "aXbYbZ"));
  EXPECT_TRUE(WildcardMatch("SMI_?.qks", "smi_7.QKS"));
  EXPECT_FALSE(WildcardMatch("SMI_?.qks", "smi_17.qks"));
  EXPECT_FALSE(WildcardMatch("*.qkn", "zoma.qkn.bak"));
  EXPECT_TRUE(WildcardMatch(std::string(200, '*') + "z", std::string(5000, 'a') + "z"));
  EXPECT_FALSE(WildcardMatch(std::string(200, '*') + "z", std::string(5000, 'a')));
}

}  // namespace

// The file layer's Windows rules that hold on every system: read-only files, folders, moves,
// sharing within the process, CreateFile's dispositions and the folder search.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform_files_fixture.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

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
#ifndef _WIN32  // where names differ by case, the existing one must be reused
  EXPECT_FALSE(fs::exists("NEW.BIN"));
#endif
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

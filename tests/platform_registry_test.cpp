// The registry file: value encodings, missing and damaged data, writers that must not lose each
// other's values, a key written twice, files too big or too blank, and a file that is a link.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/registry.h"
#include "platform/registry_file_store.h"
#include "support/ClientProcess.h"
#include "support/DialogHarness.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("TARVO_REGISTRY", m_file.c_str(), 1); }
  void TearDown() override { unsetenv("TARVO_REGISTRY"); }
  TempDir m_dir;
  std::string m_file = m_dir / "registry.reg";
};

}  // namespace

TEST_F(RegistryTest, VersionsAreTheFloatsBitsInADword) {
  WriteTextFile(m_file, RegistryText("/games/tarvo", "\"Version1\"=dword:3fc00000\n"));
  DialogHarness h;
  EXPECT_EQ(h.Dlg().ReadRegFloat("Version1"), 1.5f);
  ASSERT_TRUE(h.Dlg().WriteRegFloat("Version2", 2.25f));
  EXPECT_NE(ReadTextFile(m_file).find("\"Version2\"=dword:40100000"), std::string::npos);  // bytes 00 00 10 40
  EXPECT_EQ(h.Dlg().ReadRegFloat("Version2"), 2.25f);
  EXPECT_EQ(h.Dlg().ReadRegFloat("Version4"), 0.0f);  // missing: no message
  EXPECT_TRUE(h.Messages().empty());
}

TEST_F(RegistryTest, MissingKeyReportsCodeNineAndReadsZero) {
  WriteTextFile(m_file, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"x\"=\"y\"\n");
  DialogHarness h;
  EXPECT_EQ(h.Dlg().ReadRegFloat("Version1"), 0.0f);
  EXPECT_EQ(h.StopCodes(), std::vector<unsigned>{9});
  EXPECT_EQ(h.Messages(), std::vector<std::string>{"无法找到安装情报,因此中断执行."});
}

TEST_F(RegistryTest, GameFolderFailuresAreSilentWithoutADialog) {
  std::string folder;
  EXPECT_FALSE(ReadDefaultDir("SOFTWARE\\Brix\\Tarvo", folder, nullptr));  // no file at all
  WriteTextFile(m_file, RegistryText(std::string(260, 'a')));
  EXPECT_FALSE(ReadDefaultDir("SOFTWARE\\Brix\\Tarvo", folder, nullptr));
  DialogHarness h;
  EXPECT_FALSE(ReadDefaultDir("SOFTWARE\\Brix\\Tarvo", folder, &h.Dlg()));  // longer than the buffer
  EXPECT_EQ(h.StopCodes(), std::vector<unsigned>{10});
  WriteTextFile(m_file, RegistryText(std::string(259, 'a')));
  EXPECT_TRUE(ReadDefaultDir("SOFTWARE\\Brix\\Tarvo", folder, nullptr));
  EXPECT_EQ(folder.size(), 259u);
}

TEST_F(RegistryTest, NamesAreNotCaseSensitiveAndEscapesRoundTrip) {
  WriteTextFile(m_file,
                "REGEDIT4\n\n[hkey_local_machine\\software\\brix\\TARVO]\n\"DefaultDir\"=\"C:\\\\Games\\\\\\\"Tarvo\\\"\"\n");
  std::string folder;
  ASSERT_TRUE(ReadDefaultDir("SOFTWARE\\Brix\\Tarvo", folder, nullptr));
  EXPECT_EQ(folder, "C:\\Games\\\"Tarvo\"");
}

TEST_F(RegistryTest, DamagedFileOrLinesReadAsMissing) {
  WriteTextFile(m_file, std::string("\x01\x02garbage\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brix\\Tarvo]\n", 46));
  platform::RegistryKey key;
  EXPECT_FALSE(key.Open("SOFTWARE\\Brix\\Tarvo", false));
  WriteTextFile(m_file, RegistryText("/g", "\"Version1\"=dword:3fc0\n\"Version2\"=dword:zzzzzzzz\n\"Version3\n"));
  DialogHarness h;
  EXPECT_EQ(h.Dlg().ReadRegFloat("Version1"), 0.0f);
  EXPECT_EQ(h.Dlg().ReadRegFloat("Version2"), 0.0f);
  EXPECT_EQ(h.Dlg().ReadRegFloat("Version3"), 0.0f);
  EXPECT_TRUE(h.StopCodes().empty());
}

TEST_F(RegistryTest, WritesKeepOtherKeysAndSaveADamagedFile) {
  WriteTextFile(m_file, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"keep\"=hex:01,02,03\n; a comment\n");
  DialogHarness h;
  ASSERT_TRUE(h.Dlg().WriteRegFloat("Version3", 1.23f));
  std::string text = ReadTextFile(m_file);
  EXPECT_NE(text.find("\"keep\"=hex:01,02,03"), std::string::npos);
  EXPECT_NE(text.find("; a comment"), std::string::npos);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brix\\Tarvo]"), std::string::npos);
  WriteTextFile(m_file, "not a registry");
  ASSERT_TRUE(h.Dlg().WriteRegFloat("Version3", 1.0f));
  EXPECT_EQ(ReadTextFile(m_file + ".damaged"), "not a registry");
  EXPECT_EQ(h.Dlg().ReadRegFloat("Version3"), 1.0f);
}

TEST_F(RegistryTest, ConcurrentWritersFromTwoProcessesLoseNothing) {
  WriteTextFile(m_file, RegistryText("/g"));
  constexpr int kWrites = 40;
  pid_t child = fork();
  if (child == 0) {
    platform::RegistryKey key;
    bool ok = key.Open("SOFTWARE\\Brix\\Tarvo", true);
    for (int i = 0; i < kWrites && ok; ++i) {
      uint32_t v = static_cast<uint32_t>(i);
      ok = key.SetValue("child" + std::to_string(i), platform::kRegDword, &v, 4);
    }
    _exit(ok ? 0 : 1);
  }
  platform::RegistryKey key;
  ASSERT_TRUE(key.Open("SOFTWARE\\Brix\\Tarvo", true));
  for (int i = 0; i < kWrites; ++i) {
    uint32_t v = static_cast<uint32_t>(i);
    ASSERT_TRUE(key.SetValue("parent" + std::to_string(i), platform::kRegDword, &v, 4));
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  platform::RegistryKey check;
  ASSERT_TRUE(check.Open("SOFTWARE\\Brix\\Tarvo", false));
  std::vector<uint8_t> data;
  for (int i = 0; i < kWrites; ++i) {
    EXPECT_TRUE(check.QueryValue("child" + std::to_string(i), data, nullptr)) << i;
    EXPECT_TRUE(check.QueryValue("parent" + std::to_string(i), data, nullptr)) << i;
  }
  EXPECT_TRUE(check.QueryValue("defaultdir", data, nullptr));
}

TEST_F(RegistryTest, AKeyWrittenTwiceReadsAndWritesTheSameMergedValues) {
  WriteTextFile(m_file, RegistryText("/g", "\"Version3\"=dword:3f800000\n\"a\"=\"first\"\n\n") +
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"x\"=\"y\"\n\n"
                            "[hkey_local_machine\\software\\brix\\tarvo]\n\"VERSION3\"=dword:3f8ccccd\n\"b\"=\"second\"\n");
  DialogHarness h;
  EXPECT_EQ(h.Dlg().ReadRegFloat("Version3"), 1.1f);  // the later section wins, as an import would leave it
  ASSERT_TRUE(h.Dlg().WriteRegFloat("Version3", 1.2f));
  EXPECT_EQ(h.Dlg().ReadRegFloat("Version3"), 1.2f);  // so the next run does not repeat the patch
  EXPECT_EQ(ReadTextFile(m_file),
            RegistryText("/g", "\"Version3\"=dword:3f99999a\n\"a\"=\"first\"\n\"b\"=\"second\"\n\n") +
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"x\"=\"y\"\n\n");
  EXPECT_TRUE(h.StopCodes().empty());
}

TEST_F(RegistryTest, AFileTooBigToRewriteIsRefusedRatherThanCut) {
  std::string text = RegistryText("/g", "\"Version3\"=dword:3f800000\n");
  text += std::string(65u << 20, ';') + "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Later]\n\"keep\"=\"me\"\n";
  WriteTextFile(m_file, text);
  for (const char* subKey : {"SOFTWARE\\Brix\\Tarvo", "SOFTWARE\\Brix\\Elsewhere"}) {  // a value, a new key
    DialogHarness h;
    EXPECT_EQ(h.Dlg().ReadRegFloat("Version3"), 1.0f);
    EXPECT_FALSE(h.Dlg().WriteRegFloat("Version3", 2.0f, subKey));
    EXPECT_EQ(h.StopCodes(), std::vector<unsigned>{10}) << subKey;
    EXPECT_TRUE(ReadTextFile(m_file) == text);
  }
}

TEST_F(RegistryTest, MillionsOfBlankLinesTakeNoMoreMemoryThanTheFile) {
  WriteTextFile(m_file, RegistryText("/g") + std::string(24u << 20, '\n') + "\"Version1\"=dword:3fc00000\n");
  pid_t child = fork();
  if (child == 0) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    rlimit limit{768u << 20, 768u << 20};  // a line kept as an object of its own would need twice this
    setrlimit(RLIMIT_AS, &limit);
#endif
    platform::RegistryKey key;
    std::vector<uint8_t> data;
    uint32_t two = 2;
    bool ok = key.Open("SOFTWARE\\Brix\\Tarvo", true) && key.QueryValue("Version1", data, nullptr) &&
              data == std::vector<uint8_t>{0x00, 0x00, 0xc0, 0x3f} && key.SetValue("Version2", platform::kRegDword, &two, 4);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  ASSERT_EQ(wait4(child, &status, 0, &usage), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_LT(usage.ru_maxrss, 512L << 10);  // kilobytes: the file's text and its rewrite, not gigabytes
  platform::RegistryKey key;
  std::vector<uint8_t> data;
  ASSERT_TRUE(key.Open("SOFTWARE\\Brix\\Tarvo", false));
  EXPECT_TRUE(key.QueryValue("Version1", data, nullptr));
  EXPECT_TRUE(key.QueryValue("Version2", data, nullptr));
}

TEST_F(RegistryTest, ALinkedFileIsUpdatedWhereItPoints) {
  WriteTextFile(m_dir / "real.reg", RegistryText("/g"));
  ASSERT_EQ(symlink("real.reg", m_file.c_str()), 0);
  DialogHarness h;
  ASSERT_TRUE(h.Dlg().WriteRegFloat("Version2", 2.25f));
  struct stat st{};
  ASSERT_EQ(lstat(m_file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(ReadTextFile(m_dir / "real.reg").find("\"Version2\"=dword:40100000"), std::string::npos);
  EXPECT_EQ(h.Dlg().ReadRegFloat("Version2"), 2.25f);
}

TEST(RegistryPath, ARelativeFileIsTakenFromTheFolderTheClientStartedIn) {
  char start[4096];
  ASSERT_NE(getcwd(start, sizeof start), nullptr);
  setenv("TARVO_REGISTRY", "tarvo.reg", 1);
  const std::string before = platform::RegistryFilePath();
  ASSERT_EQ(chdir("/"), 0);  // the client makes the game folder current early on
  EXPECT_EQ(platform::RegistryFilePath(), before);
  EXPECT_EQ(before, std::string(start) + "/tarvo.reg");
  ASSERT_EQ(chdir(start), 0);
  setenv("TARVO_REGISTRY", "/abs/tarvo.reg", 1);
  EXPECT_EQ(platform::RegistryFilePath(), "/abs/tarvo.reg");
  unsetenv("TARVO_REGISTRY");
}

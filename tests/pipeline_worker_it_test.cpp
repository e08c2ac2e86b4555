// The worker threads and the patch list step inside one dialog, against a real FTP server: what
// level is asked for, what a failing step leaves behind, and what the player is told.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "e2e_support.h"
#include "session/StopCodes.h"
#include "support/ChildProcesses.h"
#include "support/ClientProcess.h"
#include "support/DialogHarness.h"
#include "support/FtpServer.h"

namespace fs = std::filesystem;

namespace {

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_game + "/Music");
    WriteRegistry("");
    setenv("TARVO_REGISTRY", m_registry.c_str(), 1);
    FtpServer::Options options;
    options.root = m_dir / "ftp";
    m_ftp = std::make_unique<FtpServer>(options);
    setenv("TARVO_FTP_PORT", std::to_string(m_ftp->Port()).c_str(), 1);
    CPatchClientDlg& dlg = m_harness.Dlg();
    dlg.m_strRegKey = "SOFTWARE\\Brix\\Tarvo";
    dlg.m_ftpHosts = {"127.0.0.1"};
    dlg.m_gameHosts = {"127.0.0.1"};
    dlg.m_strFtpRoot = "/tarvo";
  }
  void TearDown() override { fs::current_path("/"); }

  // The same served folder from a server that behaves as `options` say.
  void RestartServer(FtpServer::Options options) {
    m_ftp.reset();
    options.root = m_dir / "ftp";
    m_ftp = std::make_unique<FtpServer>(options);
    setenv("TARVO_FTP_PORT", std::to_string(m_ftp->Port()).c_str(), 1);
  }
  // A list whose last record is applied first: `later` is applied after `first`.
  void PutTwoArchiveList(const std::string& later, size_t laterSize, const std::string& first, size_t firstSize) {
    PutRemote("PatchInfo/FileList_100.dat", "TarvoPatch 1.1 end\nTarvoPatch\\Data\\" + later + " " +
                                                std::to_string(laterSize) + " zip 0\nTarvoPatch\\Data\\" + first +
                                                " " + std::to_string(firstSize) + " zip 0\n");
  }
  void RunPatch() {
    Dlg().SendMessage(WM_PATCH_LIST, 100, 0);
    Dlg().WaitForWorkers();
  }
  // The files "Data/f<i>.txt" of an archive of `count` such entries.
  bool AllUnpacked(int count) const {
    for (int i = 0; i < count; ++i) {
      if (!fs::exists(Game("Data/f" + std::to_string(i) + ".txt"))) return false;
    }
    return true;
  }
  static std::string ManyEntries(int count, const std::string& content) {
    return "[('Data/f%d.txt' % i, '" + content + "') for i in range(" + std::to_string(count) + ")] + "
           "[('Data/shared.txt', '" + content + "')]";
  }

  void WriteRegistry(const std::string& versionLines) { WriteTextFile(m_registry, RegistryText(m_game, versionLines)); }
  void PutRemote(const std::string& relative, const std::string& content) { m_ftp->PutFile("tarvo/" + relative, content); }
  // A ZIP archive on the server holding one file.
  void PutArchive(const std::string& relative, const std::string& entry, const std::string& content) {
    PutArchiveOf(relative, "[('" + entry + "', '" + content + "')]");
  }
  // A ZIP archive made of `entries`, a Python list of (name, content) pairs; returns its size.
  size_t PutArchiveOf(const std::string& relative, const std::string& entries) {
    std::string local = m_dir / "archive.zip";
    std::string command = "/usr/bin/python3 -c \"import zipfile,sys\nwith zipfile.ZipFile(sys.argv[1],'w') as z:\n"
                          " [z.writestr(n, c) for n, c in " + entries + "]\" '" + local + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    PutRemote(relative, ReadTextFile(local));
    return fs::file_size(local);
  }
  std::string Game(const std::string& relative) const { return m_game + "/" + relative; }
  std::string Remote(const std::string& relative) const { return m_ftp->Root() + "/tarvo/" + relative; }
  CPatchClientDlg& Dlg() { return m_harness.Dlg(); }
  void RunVersionCheck() {
    VersionCheckThread(&Dlg());
    Dlg().WaitForWorkers();
  }

  TempDir m_dir;
  std::string m_game = m_dir / "game";
  std::string m_registry = m_dir / "registry.reg";
  std::unique_ptr<FtpServer> m_ftp;
  DialogHarness m_harness;
};

TEST_F(PipelineTest, StartLevelInHundredthsNamesTheList) {
  PutRemote("PatchInfo/FileList_000.dat", "TarvoPatch 1.3 end\n");
  PutRemote("PatchInfo/FileList_123.dat", "TarvoPatch 1.3 end\n");
  Dlg().m_strServerVersion3 = "1.3";
  RunVersionCheck();  // no level recorded at all: from level 0
  EXPECT_EQ(m_ftp->CountInLog("<- RETR FileList_000.dat"), 1);
  EXPECT_TRUE(Dlg().View().IsStartEnabled());

  Dlg().m_btnStart.DisableButton();
  Dlg().m_strServerVersion3 = "1.3";
  WriteRegistry("\"Version3\"=dword:3f9d70a4\n");  // 1.23
  RunVersionCheck();
  EXPECT_EQ(m_ftp->CountInLog("<- RETR FileList_123.dat"), 1);
  EXPECT_TRUE(Dlg().View().IsStartEnabled());
  EXPECT_TRUE(m_harness.StopCodes().empty());
}

TEST_F(PipelineTest, NothingDueUnlocksStartWithoutAnyFetch) {
  Dlg().m_strServerVersion1 = "1.0";
  WriteRegistry("\"Version1\"=dword:3f800000\n");
  RunVersionCheck();  // the data text is empty: no patch
  EXPECT_TRUE(Dlg().View().IsStartEnabled());
  EXPECT_EQ(m_ftp->LoginCount(), 0);
}

TEST_F(PipelineTest, FailedAgentListLeavesTheLauncherVersionBehind) {
  PutRemote("TarvoPatch/Tarvo.exe", "#!/bin/sh\n");
  WriteTextFile(Game("Tarvo.exe"), "old launcher");  // so that the replace step takes no time
  Dlg().m_strServerVersion1 = "1.1";
  WriteRegistry("\"Version1\"=dword:3f800000\n");
  RunVersionCheck();
  EXPECT_EQ(m_harness.StopCodes(), std::vector<unsigned>{STOP_UNFORESEEN});
  EXPECT_FLOAT_EQ(e2e::RegistryVersion(m_registry, 1), 1.0f);
  EXPECT_FALSE(Dlg().View().IsStartEnabled());
}

TEST_F(PipelineTest, AReleasedListIsNeverFilledOrInstalled) {
  PutRemote("PatchInfo/FileList_100.dat", "TarvoPatch 1.1 end\nTarvoPatch\\a.zip 5 zip 0\n");
  Dlg().ClearPatchList();
  EXPECT_EQ(Dlg().SendMessage(WM_PATCH_LIST, 100, 0), 3);
  Dlg().WaitForWorkers();
  EXPECT_EQ(m_ftp->LoginCount(), 0);
  EXPECT_EQ(Dlg().m_pPatchList, nullptr);
}

TEST_F(PipelineTest, FailedDownloadOfAnEntryTellsThePlayer) {
  // Missing on the server, or larger than the list says (not the archive the list describes).
  PutArchive("TarvoPatch/Data/big.zip", "Data/big.txt", "more than the list allows");
  for (const char* record : {"TarvoPatch\\Data\\gone.zip 5 zip 0\n", "TarvoPatch\\Data\\big.zip 40 zip 0\n"}) {
    SCOPED_TRACE(record);
    PutRemote("PatchInfo/FileList_100.dat", std::string("TarvoPatch 1.1 end\n") + record);
    DialogHarness harness;
    CPatchClientDlg& dlg = harness.Dlg();
    dlg.m_strRegKey = Dlg().m_strRegKey;
    dlg.m_ftpHosts = Dlg().m_ftpHosts;
    dlg.m_strFtpRoot = Dlg().m_strFtpRoot;
    dlg.m_bMusicToolClosed = true;
    fs::create_directories(m_game);
    WriteTextFile(Game("DownloadMusic.exe"), "#!/bin/sh\ntouch started\n");
    fs::permissions(Game("DownloadMusic.exe"), fs::perms::owner_all);
    dlg.SendMessage(WM_PATCH_LIST, 100, 0);
    dlg.WaitForWorkers();
    EXPECT_EQ(harness.StopCodes(), std::vector<unsigned>{STOP_PATCH_DOWNLOAD});
    EXPECT_EQ(harness.Messages(), std::vector<std::string>{"无法下载补丁文件,因此中断执行."});
    EXPECT_FALSE(fs::exists(Game("Data/gone.zip")));
    EXPECT_FALSE(fs::exists(Game("Data/big.zip")));
    EXPECT_FALSE(fs::exists(Game("Data/big.txt")));
    EXPECT_FALSE(dlg.View().IsStartEnabled());
    EXPECT_TRUE(std::isnan(e2e::RegistryVersion(m_registry, 3)));
    EXPECT_FALSE(HasChildNamed("DownloadMusic"));  // the music downloader comes back only after a whole patch
  }
  // Each archive had its ten attempts before the run gave up.
  EXPECT_EQ(m_ftp->CountInLog("<- SIZE gone.zip"), 10);
  EXPECT_EQ(m_ftp->CountInLog("<- SIZE big.zip"), 10);
}

// A poor line drops every transfer after 128 KiB: each archive still arrives within its attempts,
// every piece continuing the one before, and the overall bar only moves forward.
TEST_F(PipelineTest, ALineThatDropsEveryTransferStillDeliversEachArchive) {
  constexpr size_t kBigEntry = 700000;
  size_t bigSize = PutArchiveOf("TarvoPatch/Data/big.zip",
                                "[('Data/big.bin', bytes((i * 7919) % 251 for i in range(" + std::to_string(kBigEntry) + ")))]");
  size_t smallSize = PutArchiveOf("TarvoPatch/Data/small.zip", "[('Data/small.txt', 'small')]");
  FtpServer::Options options;
  options.dropAfterBytes = 128 * 1024;
  RestartServer(options);
  PutTwoArchiveList("small.zip", smallSize, "big.zip", bigSize);
  std::mutex lock;
  std::vector<int> bar;
  Dlg().View().SetListener([&](int id) {
    std::lock_guard<std::mutex> hold(lock);
    if (id == IDC_TOTAL_PROGRESS) bar.push_back(Dlg().View().GetBarPos(id));
  });
  RunPatch();
  Dlg().View().SetListener(nullptr);

  EXPECT_TRUE(m_harness.StopCodes().empty());
  std::string expected(kBigEntry, '\0');
  for (size_t i = 0; i < kBigEntry; ++i) expected[i] = static_cast<char>((i * 7919) % 251);
  EXPECT_EQ(ReadTextFile(Game("Data/big.bin")), expected);
  EXPECT_EQ(ReadTextFile(Game("Data/small.txt")), "small");
  EXPECT_FLOAT_EQ(e2e::RegistryVersion(m_registry, 3), 1.1f);
  const int pieces = static_cast<int>((bigSize + options.dropAfterBytes - 1) / options.dropAfterBytes);
  EXPECT_EQ(m_ftp->CountInLog("<- RETR big.zip"), pieces);
  EXPECT_EQ(m_ftp->AcceptedRestOffsets().size(), static_cast<size_t>(pieces - 1));
  EXPECT_EQ(m_ftp->BytesSentOf("big.zip"), static_cast<long long>(bigSize));  // no byte twice
  ASSERT_FALSE(bar.empty());
  for (size_t i = 1; i < bar.size(); ++i) EXPECT_GE(bar[i], bar[i - 1]);
  EXPECT_EQ(bar.back(), 1000);
}

// Cancel during the worker's attempts ends them: no attempt follows, no stop code is shown.
TEST_F(PipelineTest, CancelEndsTheAttemptsOfAnArchive) {
  PutTwoArchiveList("gone.zip", 10, "lost.zip", 10);
  PutRemote("TarvoPatch/Data/other.zip", "the folder is there, the archives are not");
  Dlg().SendMessage(WM_PATCH_LIST, 100, 0);
  for (int i = 0; i < 1000 && m_ftp->CountInLog("<- SIZE lost.zip") < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Dlg().RequestCancel();
  Dlg().WaitForWorkers();
  EXPECT_LT(m_ftp->CountInLog("<- SIZE lost.zip"), 10);
  EXPECT_EQ(m_ftp->CountInLog("<- SIZE gone.zip"), 0);
  EXPECT_TRUE(m_harness.StopCodes().empty());
  EXPECT_FALSE(fs::exists(Game("Data/lost.zip")));
}

TEST_F(PipelineTest, CompletePatchRecordsTheLevelAndBringsTheMusicDownloaderBack) {
  PutArchive("TarvoPatch/Data/one.zip", "Data/one.txt", "one");
  PutRemote("PatchInfo/FileList_100.dat", "TarvoPatch 1.2.3 end\nTarvoPatch\\Data\\one.zip " +
                                               std::to_string(fs::file_size(Remote("TarvoPatch/Data/one.zip"))) +
                                               " zip 0\n");
  Dlg().m_bMusicToolClosed = true;
  WriteTextFile(Game("DownloadMusic.exe"), "#!/bin/sh\ntouch started\n");
  fs::permissions(Game("DownloadMusic.exe"), fs::perms::owner_all);
  Dlg().SendMessage(WM_PATCH_LIST, 100, 0);
  Dlg().WaitForWorkers();
  EXPECT_TRUE(m_harness.StopCodes().empty());
  EXPECT_EQ(ReadTextFile(Game("Data/one.txt")), "one");
  EXPECT_FALSE(fs::exists(Game("Data/one.zip")));
  EXPECT_FLOAT_EQ(e2e::RegistryVersion(m_registry, 3), 1.23f);
  EXPECT_TRUE(Dlg().View().IsStartEnabled());
  for (int i = 0; i < 100 && !fs::exists(Game("started")); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(fs::exists(Game("started")));
}

TEST_F(PipelineTest, EntriesThatCannotBeInstalledEndTheRunWithTheirMessages) {
  {  // Not an archive: the download is thrown away.
    PutRemote("TarvoPatch/Data/bad.zip", "not a zip at all");
    PutRemote("PatchInfo/FileList_100.dat", "TarvoPatch 1.1 end\nTarvoPatch\\Data\\bad.zip 16 zip 0\n");
    DialogHarness harness;
    harness.Dlg().m_strRegKey = Dlg().m_strRegKey;
    harness.Dlg().m_ftpHosts = Dlg().m_ftpHosts;
    harness.Dlg().m_strFtpRoot = Dlg().m_strFtpRoot;
    harness.Dlg().SendMessage(WM_PATCH_LIST, 100, 0);
    harness.Dlg().WaitForWorkers();
    EXPECT_EQ(harness.Messages(), (std::vector<std::string>{"Unzip failed..", "无法下载客户端,因此中断执行."}));
    EXPECT_FALSE(fs::exists(Game("Data/bad.zip")));
  }
  {  // The entry's folder is taken by a file.
    WriteTextFile(Game("Blocked"), "a file, not a folder");
    PutRemote("PatchInfo/FileList_100.dat", "TarvoPatch 1.1 end\nTarvoPatch\\Blocked\\x.zip 16 zip 0\n");
    Dlg().SendMessage(WM_PATCH_LIST, 100, 0);
    Dlg().WaitForWorkers();
    EXPECT_EQ(m_harness.Messages(), (std::vector<std::string>{"Create Folder failed..", "无法下载客户端,因此中断执行."}));
    EXPECT_EQ(Dlg().m_pPatchList, nullptr);
  }
  EXPECT_TRUE(std::isnan(e2e::RegistryVersion(m_registry, 3)));
}

// Archive N downloads slowly, N+1 quickly, so N+1 lies complete on disk while N is unpacked:
// still every entry of N is in place before anything of N+1 is written.
TEST_F(PipelineTest, ArchivesDownloadAheadButApplyOneAfterAnotherInListOrder) {
  size_t firstSize = PutArchiveOf("TarvoPatch/Data/first.zip", ManyEntries(300, "first"));
  size_t laterSize = PutArchiveOf("TarvoPatch/Data/later.zip", "[('Data/shared.txt', 'later'), ('Data/f0.txt', 'later')]");
  FtpServer::Options options;
  options.slowFiles = {"tarvo/TarvoPatch/Data/first.zip"};
  options.slowChunkBytes = 16000;
  RestartServer(options);
  PutTwoArchiveList("later.zip", laterSize, "first.zip", firstSize);
  RunPatch();
  EXPECT_TRUE(m_harness.StopCodes().empty());
  EXPECT_EQ(ReadTextFile(Game("Data/shared.txt")), "later");
  EXPECT_EQ(ReadTextFile(Game("Data/f0.txt")), "later");
  EXPECT_EQ(ReadTextFile(Game("Data/f299.txt")), "first");
  EXPECT_TRUE(AllUnpacked(300));
  EXPECT_FALSE(fs::exists(Game("Data/first.zip")));
  EXPECT_FALSE(fs::exists(Game("Data/later.zip")));
  EXPECT_FLOAT_EQ(e2e::RegistryVersion(m_registry, 3), 1.1f);
  EXPECT_TRUE(Dlg().View().IsStartEnabled());
}

// Two records in a row that the file system takes for one local file: the second download must
// wait until the first archive's unpack has finished with that file.
TEST_F(PipelineTest, AdjacentRecordsOfOneLocalFileApplyOneAfterAnother) {
  struct Case {
    const char* first;
    const char* later;
  };
  for (const Case& names : {Case{"TarvoPatch\\Data\\big.zip", "TarvoPatch/Data/big.zip"},
                            Case{"TarvoPatch\\Data\\Part.zip", "TarvoPatch\\Data\\part.zip"}}) {
    SCOPED_TRACE(names.later);
    fs::remove_all(Game("Data"));
    WriteRegistry("");
    std::string first = names.first, later = names.later;
    std::replace(first.begin(), first.end(), '\\', '/');
    std::replace(later.begin(), later.end(), '\\', '/');
    const size_t laterSize = PutArchiveOf(later, ManyEntries(800, "later"));
    const size_t firstSize = first == later ? laterSize : PutArchiveOf(first, ManyEntries(800, "first"));
    PutRemote("PatchInfo/FileList_100.dat", "TarvoPatch 1.1 end\n" + std::string(names.later) + " " +
                                                std::to_string(laterSize) + " zip 0\n" + names.first + " " +
                                                std::to_string(firstSize) + " zip 0\n");
    RunPatch();
    EXPECT_TRUE(m_harness.StopCodes().empty());
    EXPECT_TRUE(m_harness.Messages().empty());
    EXPECT_TRUE(AllUnpacked(800));
    EXPECT_EQ(ReadTextFile(Game("Data/shared.txt")), "later");
    EXPECT_FLOAT_EQ(e2e::RegistryVersion(m_registry, 3), 1.1f);
    EXPECT_FALSE(fs::exists(Game(first)));
    EXPECT_FALSE(fs::exists(Game(later)));
    Dlg().m_btnStart.DisableButton();
  }
}

// The next archive would take minutes at the pace it is served: an unpack failure must break its
// download off and leave neither file behind.
TEST_F(PipelineTest, AnUnpackFailureStopsTheDownloadInFlight) {
  // Its last entry is damaged, so the unpack fails only after it has written the others.
  size_t badSize = PutArchiveOf("TarvoPatch/Data/bad.zip", ManyEntries(2000, "first") + " + [('Data/last.txt', 'MARKER')]");
  std::string bad = ReadTextFile(Remote("TarvoPatch/Data/bad.zip"));
  bad.replace(bad.find("MARKER"), 6, "MARKEX");
  PutRemote("TarvoPatch/Data/bad.zip", bad);
  m_ftp->PutPatternFile("tarvo/TarvoPatch/Data/slow.zip", 2000000);
  FtpServer::Options options;
  options.slowFiles = {"tarvo/TarvoPatch/Data/slow.zip"};
  RestartServer(options);
  PutTwoArchiveList("slow.zip", 2000000, "bad.zip", badSize);
  RunPatch();
  EXPECT_EQ(m_harness.StopCodes(), std::vector<unsigned>{STOP_CLIENT});
  EXPECT_EQ(m_harness.Messages().front(), "Unzip failed..");
  EXPECT_EQ(m_ftp->CountInLog("RETR slow.zip"), 1);  // it was under way
  EXPECT_FALSE(fs::exists(Game("Data/bad.zip")));
  EXPECT_FALSE(fs::exists(Game("Data/slow.zip")));
  EXPECT_TRUE(std::isnan(e2e::RegistryVersion(m_registry, 3)));
  EXPECT_FALSE(Dlg().View().IsStartEnabled());
}

TEST_F(PipelineTest, ADownloadFailureLetsTheUnpackInProgressFinishAndIsReported) {
  size_t firstSize = PutArchiveOf("TarvoPatch/Data/first.zip", ManyEntries(500, "first"));
  PutTwoArchiveList("gone.zip", 10, "first.zip", firstSize);
  RunPatch();
  EXPECT_EQ(m_harness.StopCodes(), std::vector<unsigned>{STOP_PATCH_DOWNLOAD});
  EXPECT_TRUE(AllUnpacked(500));
  EXPECT_FALSE(fs::exists(Game("Data/first.zip")));
  EXPECT_FALSE(fs::exists(Game("Data/gone.zip")));
  EXPECT_TRUE(std::isnan(e2e::RegistryVersion(m_registry, 3)));
  EXPECT_FALSE(Dlg().View().IsStartEnabled());
}

TEST_F(PipelineTest, CancelEndsTheDownloadAndTheUnpackTogether) {
  size_t firstSize = PutArchiveOf("TarvoPatch/Data/first.zip", ManyEntries(3000, "first"));
  m_ftp->PutPatternFile("tarvo/TarvoPatch/Data/slow.zip", 2000000);
  FtpServer::Options options;
  options.slowFiles = {"tarvo/TarvoPatch/Data/slow.zip"};
  RestartServer(options);
  PutTwoArchiveList("slow.zip", 2000000, "first.zip", firstSize);
  Dlg().SendMessage(WM_PATCH_LIST, 100, 0);
  while (!fs::exists(Game("Data/slow.zip")) && Dlg().WorkersRunning()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Dlg().RequestCancel();
  Dlg().WaitForWorkers();
  EXPECT_TRUE(m_harness.StopCodes().empty());
  EXPECT_FALSE(fs::exists(Game("Data/slow.zip")));
  EXPECT_TRUE(std::isnan(e2e::RegistryVersion(m_registry, 3)));
  EXPECT_FALSE(Dlg().View().IsStartEnabled());
}

}  // namespace

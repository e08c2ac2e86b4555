// Whole runs of the client binary against the demo patch server and a real FTP server: a data
// patch over two levels, the launcher and self updates, broken lists, lost connections, the game's
// command line, and a run killed in the middle of a patch.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "e2e_support.h"
#include "install_test_support.h"
#include "support/ChildProcesses.h"
#include "support/ClientProcess.h"
#include "support/FtpServer.h"
#include "support/PatchServer.h"

namespace fs = std::filesystem;
using e2e::kWaitMs;

namespace {

const char* const kStopNotFound = "尚未找到补丁文件,因此中断执行.";
const char* const kStopFtp = "无法连接FTP,因此中断执行.";
const char* const kStopNoServers = "接收服务器信息失败,请重新再试.";
const char* const kStopPatchDownload = "无法下载补丁文件,因此中断执行.";
const char* const kStopUnforeseen = "发现无法预知的错误,因此中断执行.";

using e2e::kDataPatchDue;
using e2e::WaitForFile;

float MusicVersion(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char header[300] = {};
  in.read(header, sizeof header);
  float version;
  std::memcpy(&version, header + 104, sizeof version);
  return version;
}

// The last progress line the console printed before Start unlocked.
std::string LastProgressLine(const std::string& out) {
  size_t ready = out.find("Ready.");
  std::string before = out.substr(0, ready);
  if (!before.empty() && before.back() == '\n') before.pop_back();
  size_t newline = before.rfind('\n');
  return newline == std::string::npos ? before : before.substr(newline + 1);
}

class PatchRunTest : public ::testing::Test {
 protected:
  void MakeWorld(const std::string& serverVersions, const std::string& registryVersions = "1.0,1.0,1.0,1.0") {
    ASSERT_TRUE(e2e::MakeWorld(m_world, serverVersions, registryVersions));
  }
  std::string Game(const std::string& relative) const { return m_world + "/game/" + relative; }
  std::string Remote(const std::string& relative) const { return m_world + "/ftp/tarvo/" + relative; }
  FtpServer::Options FtpOptions() const {
    FtpServer::Options options;
    options.root = m_world + "/ftp";
    return options;
  }
  void StartClient(ClientProcess& client, int patchPort, int ftpPort, const std::string& workDir = "") {
    ASSERT_TRUE(e2e::StartClient(client, m_registry, patchPort, ftpPort, {}, workDir));
  }
  // Replaces the registry's "defaultdir" line with `line`.
  void SetDefaultDirLine(const std::string& line) {
    WriteTextFile(m_registry, std::regex_replace(ReadTextFile(m_registry), std::regex("\"defaultdir\"=[^\r\n]*"), line));
  }
  // Runs the client until it ends by itself; returns whether it did.
  bool RunToEnd(int patchPort, int ftpPort, ClientProcess& client) {
    StartClient(client, patchPort, ftpPort);
    return client.Wait(kWaitMs) != -1;
  }
  float Version(int n) const { return e2e::RegistryVersion(m_registry, n); }

  TempDir m_dir;
  std::string m_world = m_dir / "world";
  std::string m_registry = m_world + "/registry.reg";
};

TEST_F(PatchRunTest, DataPatchOverTwoLevelsInstallsTheLastRecordFirstOverOneLogin) {
  MakeWorld(kDataPatchDue);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stdout() << client.Stderr();

  // The list names A, B (level 1.1) then C, the music patch and the textures (level 1.2).
  std::vector<std::string> fetched = ftp.LogLines("<- RETR ");
  ASSERT_EQ(fetched.size(), 6u);
  const char* const order[] = {"FileList_100.dat", "T_120.zip", "PatchMusic_120.zip",
                               "C_120.zip",        "B_110.zip", "A_110.zip"};
  for (size_t i = 0; i < fetched.size(); ++i) EXPECT_NE(fetched[i].find(order[i]), std::string::npos) << fetched[i];
  EXPECT_EQ(ftp.LoginCount(), 2);  // the list, then one connection for every archive

  EXPECT_EQ(ReadTextFile(Game("Data/order.txt")), "A");
  EXPECT_EQ(ReadTextFile(Game("Data/a.dat")), "a, level 1.1");
  EXPECT_EQ(ReadTextFile(Game("Data/Sub/deep.dat")), "deep");
  EXPECT_EQ(fs::file_size(Game("Texture/pack.bin")), 3u << 20);
  EXPECT_FLOAT_EQ(MusicVersion(Game("Music/zoma3.qkn")), 1.2f);  // moved out of Music/Temp
  EXPECT_FALSE(fs::exists(Game("Music/Temp")));
  for (const char* leftover : {"Data/A_110.zip", "Data/C_120.zip", "PatchMusic_120.zip", "TempList.dat"}) {
    EXPECT_FALSE(fs::exists(Game(leftover))) << leftover;
  }
  EXPECT_FLOAT_EQ(Version(3), 1.23f);
  EXPECT_FLOAT_EQ(Version(1), 1.0f);
  std::string progress = LastProgressLine(client.Stdout());
  EXPECT_NE(progress.find("total 100.0%"), std::string::npos) << progress;

  client.CloseStdin();
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_EQ(client.Stderr(), "");
}

TEST_F(PatchRunTest, AnInstallationAtTheMiddleLevelTakesOnlyItsOwnList) {
  MakeWorld(kDataPatchDue, "1.0,1.0,1.1,1.0");
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stderr();
  EXPECT_EQ(ftp.CountInLog("RETR FileList_110.dat"), 1);
  EXPECT_EQ(ReadTextFile(Game("Data/order.txt")), "C");
  EXPECT_EQ(ReadTextFile(Game("Data/a.dat")), "a, level 1.0");
  EXPECT_FALSE(fs::exists(Game("Data/b.dat")));
  EXPECT_FLOAT_EQ(Version(3), 1.23f);
  client.CloseStdin();
  client.Wait(kWaitMs);

  // Everything is current now: the next run only waits for Start.
  ClientProcess again;
  StartClient(again, server.Port(), ftp.Port());
  ASSERT_TRUE(again.WaitForStdout("Ready.", kWaitMs));
  EXPECT_EQ(ftp.CountInLog("<- RETR "), 4);
  again.CloseStdin();
  again.Wait(kWaitMs);
}

TEST_F(PatchRunTest, LauncherAgentListAndClientUpdatesEndWithTheLaunchersRestart) {
  const char* const versions = "1.1,1.1,1.2.3,1.1";
  MakeWorld(versions);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(versions));
  ClientProcess client;
  ASSERT_TRUE(RunToEnd(server.Port(), ftp.Port(), client)) << client.Stdout();
  EXPECT_EQ(client.Stderr(), "");
  e2e::ExpectLauncherUpdateRestartedTheNewLauncher(ftp, m_world + "/game", m_world + "/ftp/tarvo", kWaitMs);
  EXPECT_FLOAT_EQ(Version(1), 1.1f);
  EXPECT_FLOAT_EQ(Version(2), 1.1f);
  // Neither the music nor the data were looked at.
  EXPECT_FLOAT_EQ(Version(3), 1.0f);
  EXPECT_FLOAT_EQ(Version(4), 1.0f);
}

TEST_F(PatchRunTest, PatchClientUpdateLeavesTheNewClientInTempAndRestartsTheLauncher) {
  const char* const versions = "1.0,1.1,1.2.3,1.1";
  MakeWorld(versions);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(versions));
  ClientProcess client;
  ASSERT_TRUE(RunToEnd(server.Port(), ftp.Port(), client));
  EXPECT_EQ(client.Stderr(), "");
  EXPECT_EQ(ReadTextFile(Game("Temp/TarvoPatchClient.exe")), ReadTextFile(Remote("TarvoPatch/TarvoPatchClient.exe")));
  EXPECT_FLOAT_EQ(Version(2), 1.1f);
  EXPECT_FLOAT_EQ(Version(1), 1.0f);
  ASSERT_TRUE(WaitForFile(Game("launcher_runs.txt"), 5000));
  EXPECT_EQ(ReadTextFile(Game("launcher_runs.txt")), "old \n");
  EXPECT_EQ(ftp.CountInLog("<- RETR "), 1);
}

TEST_F(PatchRunTest, ListsThatCannotBeUsed) {
  MakeWorld(kDataPatchDue);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  const std::string list = Remote("PatchInfo/FileList_100.dat");
  const std::string original = ReadTextFile(list);

  {  // Not on the server.
    fs::remove(list);
    ClientProcess client;
    ASSERT_TRUE(RunToEnd(server.Port(), ftp.Port(), client));
    EXPECT_EQ(client.Stderr(), std::string(kStopNotFound) + "\n");
  }
  {  // A record that climbs out of the game folder: nothing of the list is fetched.
    WriteTextFile(list, original + "TarvoPatch\\..\\..\\escape.zip 10 zip 0\r\n");
    fs::copy_file(Remote("TarvoPatch/Data/A_110.zip"), m_world + "/ftp/tarvo/escape.zip");
    ClientProcess client;
    ASSERT_TRUE(RunToEnd(server.Port(), ftp.Port(), client));
    EXPECT_EQ(client.Stderr(), std::string(kStopNotFound) + "\n");
    EXPECT_EQ(ftp.CountInLog("<- RETR "), 1);
  }
  {  // A header whose version does not start with a digit.
    WriteTextFile(list, "TarvoPatch v1.2.3 end\r\n");
    ClientProcess client;
    ASSERT_TRUE(RunToEnd(server.Port(), ftp.Port(), client));
    EXPECT_EQ(client.Stderr(), std::string(kStopNotFound) + "\n");
  }
  EXPECT_FLOAT_EQ(Version(3), 1.0f);
  EXPECT_EQ(ReadTextFile(Game("Data/order.txt")), "old");
  EXPECT_FALSE(fs::exists(Game("TempList.dat")));

  {  // No records: nothing to install, Start unlocks, the level stays.
    WriteTextFile(list, "TarvoPatch 1.2.3 end\r\n");
    ClientProcess client;
    StartClient(client, server.Port(), ftp.Port());
    ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stderr();
    client.CloseStdin();
    EXPECT_EQ(client.Wait(kWaitMs), 0);
    EXPECT_EQ(client.Stderr(), "");
  }
  EXPECT_FLOAT_EQ(Version(3), 1.0f);
}

TEST_F(PatchRunTest, PatchWorkerStartsAfreshAfterTwoLostConnectionsAndGivesUpAfterThree) {
  MakeWorld(kDataPatchDue);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  {
    // Connection 1 fetches the list; 2 and 3 are the worker's first two tries.
    e2e::RefusingProxy proxy(ftp.Port(), {2, 3});
    ClientProcess client;
    StartClient(client, server.Port(), proxy.Port());
    ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stderr();
    EXPECT_EQ(proxy.Connections(), 4);
    EXPECT_FLOAT_EQ(Version(3), 1.23f);
    EXPECT_EQ(ReadTextFile(Game("Data/order.txt")), "A");
    client.CloseStdin();
    client.Wait(kWaitMs);
  }
  WriteTextFile(m_registry, std::regex_replace(ReadTextFile(m_registry), std::regex("\"Version3\"=dword:[0-9a-f]+"),
                                               "\"Version3\"=dword:3f800000"));
  {
    e2e::RefusingProxy proxy(ftp.Port(), {2, 3, 4});
    ClientProcess client;
    ASSERT_TRUE(RunToEnd(server.Port(), proxy.Port(), client));
    EXPECT_EQ(client.Stderr(), std::string(kStopFtp) + "\n");
    EXPECT_EQ(proxy.Connections(), 4);
    EXPECT_FLOAT_EQ(Version(3), 1.0f);
  }
}

TEST_F(PatchRunTest, StartHandsTheGameItsCommandLine) {
  const char* const versions = "1.0,4.0,1.0,1.5";
  MakeWorld(versions, "1.0,3.5,1.0,-");
  // The local version file says the client and the music are current, so neither is updated and
  // the registry's values are what Start finds.
  WriteTextFile(Game("VersionInfo2.dat"), "Tarvo 1.0 4.0 1.0 1.5\n");
  // The game notes which signals it came with ignored (the client ignores SIGPIPE for itself).
  std::string game = ReadTextFile(Game("Zobi.exe"));
  game.insert(game.find('\n') + 1, "grep '^SigIgn' /proc/self/status > \"$(dirname \"$0\")/zobi_signals.txt\"\n");
  WriteTextFile(Game("Zobi.exe"), game);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(versions, R"([["alpha", 9000], ["beta", 9001]])",
                                      R"(["1:127.0.0.1", "2:10.0.0.1", "2:10.0.0.2"])", "[1, 0, 255, 2, 3, 4, 5, 6]"));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stderr();
  client.WriteStdin("\n");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  ASSERT_TRUE(WaitForFile(Game("zobi_args.txt"), 5000));
  EXPECT_EQ(ReadTextFile(Game("zobi_args.txt")),
            "Zobi.exe started with 17 arguments:\n"
            "  [1] 2\n  [2] 10.0.0.1\n  [3] 10.0.0.2\n  [4] /tarvo\n  [5] demo\n"
            "  [6] 1\n  [7] 0\n  [8] 255\n  [9] 2\n  [10] 3\n  [11] 4\n  [12] 5\n  [13] 6\n"
            "  [14] alpha\n  [15] 9000\n  [16] beta\n  [17] 9001\n");
  const std::string signals = ReadTextFile(Game("zobi_signals.txt"));
  ASSERT_EQ(signals.rfind("SigIgn:", 0), 0u) << signals;
  EXPECT_EQ(std::stoull(signals.substr(7), nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u) << signals;
  EXPECT_FLOAT_EQ(Version(2), 3.5f);  // kept although the server has 4.0
  EXPECT_FLOAT_EQ(Version(4), 1.5f);  // missing, so the server's value
  EXPECT_EQ(ftp.CountInLog("<- RETR "), 0);
}

TEST_F(PatchRunTest, StartWithoutGameServersNeverStartsTheGame) {
  const char* const versions = "1.0,1.0,1.0,1.0";
  MakeWorld(versions);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(versions, "[]"));
  AdoptOrphans();  // a game the client started would be left to this process when the client ends
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stderr();
  client.WriteStdin("\n");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_EQ(client.Stderr(), std::string(kStopNoServers) + "\n");
  EXPECT_FALSE(HasChildNamed("Zobi"));
  EXPECT_FALSE(fs::exists(Game("zobi_args.txt")));
}

TEST_F(PatchRunTest, FramesAfterTheGameServersChangeNothingTheWorkerReads) {
  MakeWorld(kDataPatchDue);
  FtpServer ftp(FtpOptions());
  // After the game servers, download places without hosts or root, again and again all through the patch.
  PatchServer server(e2e::PatchConfig(kDataPatchDue) +
                     R"(, "keep_sending": {"frame": {"raw": "0e00030000000000000000000000"}, "every_ms": 5})");
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stderr();
  EXPECT_EQ(client.Stderr(), "");
  EXPECT_FLOAT_EQ(Version(3), 1.23f);
  client.CloseStdin();
  EXPECT_EQ(client.Wait(kWaitMs), 0);
}

TEST_F(PatchRunTest, PatchedProgramsStayStartableAndPatchedFilesKeepTheirModes) {
  MakeWorld(kDataPatchDue);
  fs::permissions(Game("Data/a.dat"), fs::perms(0600));
  // One level that replaces the game program, brings a new program and replaces a private file.
  const std::string archive = Remote("TarvoPatch/Data/Z_110.zip");
  install_test::MakeZip(archive, R"PY([
    (b'Zobi.exe', b'#!/bin/sh\necho "patched game" > "$(dirname "$0")/zobi_args.txt"\n', 8, False),
    (b'Tools/Setup.EXE', b'#!/bin/sh\n', 8, False), (b'Data/a.dat', b'a, patched', 8, False)])PY");
  WriteTextFile(Remote("PatchInfo/FileList_100.dat"),
                "TarvoPatch 1.2.3 end\r\nTarvoPatch\\Data\\Z_110.zip " + std::to_string(fs::file_size(archive)) +
                    " zip 0\r\n");
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stderr();
  EXPECT_EQ(ReadTextFile(Game("Data/a.dat")), "a, patched");
  EXPECT_EQ(fs::status(Game("Data/a.dat")).permissions() & fs::perms::all, fs::perms(0600));
  EXPECT_NE(fs::status(Game("Tools/Setup.EXE")).permissions() & fs::perms::owner_exec, fs::perms::none);

  // Start runs the patched game program.
  client.WriteStdin("\n");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  ASSERT_TRUE(WaitForFile(Game("zobi_args.txt"), 5000)) << client.Stderr();
  EXPECT_EQ(ReadTextFile(Game("zobi_args.txt")), "patched game\n");
}

TEST_F(PatchRunTest, ARunKilledInTheMiddleOfAPatchIsCompletedByTheNextRun) {
  MakeWorld(kDataPatchDue);
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  {
    FtpServer::Options slow = FtpOptions();
    slow.slowFiles = {"tarvo/TarvoPatch/Data/C_120.zip"};
    slow.slowChunkBytes = 50;
    FtpServer ftp(slow);
    ClientProcess client;
    StartClient(client, server.Port(), ftp.Port());
    ASSERT_TRUE(client.WaitForStdout("Data\\C_120.zip", kWaitMs)) << client.Stdout();
    client.Signal(SIGKILL);
    client.Wait(kWaitMs);
  }
  // The textures and the music patch were in; the level was not recorded.
  EXPECT_TRUE(fs::exists(Game("Texture/pack.bin")));
  EXPECT_EQ(ReadTextFile(Game("Data/order.txt")), "old");
  EXPECT_FLOAT_EQ(Version(3), 1.0f);

  FtpServer ftp(FtpOptions());
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stderr();
  EXPECT_EQ(ftp.CountInLog("<- RETR "), 6);  // the whole level again
  EXPECT_EQ(ReadTextFile(Game("Data/order.txt")), "A");
  EXPECT_EQ(ReadTextFile(Game("Data/c.dat")), "c, level 1.2");
  EXPECT_FALSE(fs::exists(Game("Data/C_120.zip")));
  EXPECT_FLOAT_EQ(MusicVersion(Game("Music/zoma3.qkn")), 1.2f);
  EXPECT_FLOAT_EQ(Version(3), 1.23f);
  client.CloseStdin();
  EXPECT_EQ(client.Wait(kWaitMs), 0);
}

TEST_F(PatchRunTest, AGameFolderThatCannotBeEnteredEndsTheRunBeforeAnythingIsFetchedOrWritten) {
  // The launcher, the client, the music and the data are all behind.
  const char* const versions = "1.1,1.1,1.2.3,1.1";
  MakeWorld(versions);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(versions));
  const std::string registry = ReadTextFile(m_registry);
  const std::string elsewhere = m_dir / "launcher's folder";
  fs::create_directories(elsewhere);
  const struct {
    const char* line;
    const char* shown;
  } cases[] = {
      {"\"defaultdir\"=\"/no/such/Tarvo\"", "/no/such/Tarvo"},
      {"\"defaultdir\"=\"\"", ""},
      {"\"defaultdir\"=dword:00000001", "?"},
      {"\"defaultdir\"=\"C:\\\\Games\\\\Tarvo\"", "C:\\Games\\Tarvo"},  // relative here: no such place
      {"\"defaultdir\"=\"Tarvo\"", "Tarvo"},  // relative: wherever the client was started
  };
  fs::create_directories(elsewhere + "/Tarvo");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    WriteTextFile(m_registry, registry);
    SetDefaultDirLine(c.line);
    ClientProcess client;
    StartClient(client, server.Port(), ftp.Port(), elsewhere);
    ASSERT_NE(client.Wait(kWaitMs), -1);
    EXPECT_EQ(client.Stderr(), std::string("Music patch failed..\n无法访问游戏文件夹\"") + c.shown + "\",因此中断执行.\n");
    EXPECT_EQ(ftp.LoginCount(), 0);
    EXPECT_TRUE(fs::is_empty(elsewhere + "/Tarvo"));
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 1);
    for (int n = 1; n <= 4; ++n) EXPECT_FLOAT_EQ(Version(n), 1.0f) << n;
  }
}

TEST_F(PatchRunTest, AGameThatCannotBeStartedIsReported) {
  const char* const versions = "1.0,1.0,1.0,1.0";
  MakeWorld(versions);
  fs::permissions(Game("Zobi.exe"), fs::perms::owner_read | fs::perms::owner_write);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(versions));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stderr();
  client.WriteStdin("\n");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_EQ(client.Stderr(), "无法启动游戏程序\"Zobi.exe\",因此中断执行.\n");
  EXPECT_FALSE(fs::exists(Game("zobi_args.txt")));
}

TEST_F(PatchRunTest, AFileIsInstalledOnlyWhenItArrivedWholeAsAnnounced) {
  const char* const versions = "1.1,1.0,1.0,1.0";
  MakeWorld(versions);
  const std::string oldLauncher = ReadTextFile(Game("Tarvo.exe"));
  const std::string registry = ReadTextFile(m_registry);
  PatchServer server(e2e::PatchConfig(versions));
  {  // The launcher grows between SIZE and RETR once: that attempt fails, the next brings all of it.
    FtpServer::Options options = FtpOptions();
    options.announcedSizes = {"tarvo/TarvoPatch/Tarvo.exe=40/1"};
    FtpServer ftp(options);
    ClientProcess client;
    ASSERT_TRUE(RunToEnd(server.Port(), ftp.Port(), client));
    EXPECT_EQ(client.Stderr(), "");
    EXPECT_EQ(ftp.CountInLog("<- RETR Tarvo.exe"), 2);
    EXPECT_EQ(ReadTextFile(Game("Tarvo.exe")), ReadTextFile(Remote("TarvoPatch/Tarvo.exe")));
    EXPECT_FLOAT_EQ(Version(1), 1.1f);
  }
  {  // It keeps changing: after the attempts, the fetch's stop code; nothing is installed or recorded.
    WriteTextFile(Game("Tarvo.exe"), oldLauncher);
    WriteTextFile(m_registry, registry);
    FtpServer::Options options = FtpOptions();
    options.announcedSizes = {"tarvo/TarvoPatch/Tarvo.exe=40"};
    FtpServer ftp(options);
    ClientProcess client;
    ASSERT_TRUE(RunToEnd(server.Port(), ftp.Port(), client));
    EXPECT_EQ(client.Stderr(), std::string(kStopUnforeseen) + "\n");
    EXPECT_EQ(ftp.CountInLog("<- RETR Tarvo.exe"), 10);
    EXPECT_EQ(ReadTextFile(Game("Tarvo.exe")), oldLauncher);
    EXPECT_FALSE(fs::exists(Game("_Temp.ex_")));
    EXPECT_FLOAT_EQ(Version(1), 1.0f);
  }
}

// Over a line that drops every transfer after 128 KiB, a 700 kB launcher arrives in pieces that
// continue one another, within the attempts, and the console's progress never goes back.
TEST_F(PatchRunTest, ALineThatDropsEveryTransferStillDeliversALargeLauncher) {
  const char* const versions = "1.1,1.0,1.0,1.0";
  MakeWorld(versions);
  std::string launcher = ReadTextFile(Remote("TarvoPatch/Tarvo.exe"));
  while (launcher.size() < 700000) launcher += "# a comment line that makes the launcher large\n";
  WriteTextFile(Remote("TarvoPatch/Tarvo.exe"), launcher);
  FtpServer::Options options = FtpOptions();
  options.dropAfterBytes = 128 * 1024;
  FtpServer ftp(options);
  PatchServer server(e2e::PatchConfig(versions));
  ClientProcess client;
  ASSERT_TRUE(RunToEnd(server.Port(), ftp.Port(), client));
  EXPECT_EQ(client.Stderr(), "");
  EXPECT_EQ(ReadTextFile(Game("Tarvo.exe")), launcher);
  EXPECT_FLOAT_EQ(Version(1), 1.1f);
  const int pieces = static_cast<int>((launcher.size() + options.dropAfterBytes - 1) / options.dropAfterBytes);
  EXPECT_EQ(ftp.CountInLog("<- RETR Tarvo.exe"), pieces);
  EXPECT_EQ(ftp.AcceptedRestOffsets().size(), static_cast<size_t>(pieces - 1));
  EXPECT_EQ(ftp.BytesSentOf("Tarvo.exe"), static_cast<long long>(launcher.size()));
  // "Tarvo.exe  file  18.7% (131072 bytes)  total  18.7% (131072 bytes)"
  std::regex progress(R"(^Tarvo\.exe  file +([0-9.]+)% \(([0-9]+) bytes\)  total +([0-9.]+)% \(([0-9]+) bytes\)$)");
  std::istringstream lines(client.Stdout());
  long long lastBytes = 0;
  int seen = 0;
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (!std::regex_match(line, match, progress)) continue;
    ++seen;
    EXPECT_LE(std::stod(match[1].str()), 100.0) << line;
    EXPECT_LE(std::stod(match[3].str()), 100.0) << line;
    EXPECT_GE(std::stoll(match[4].str()), lastBytes) << line;
    lastBytes = std::stoll(match[4].str());
  }
  EXPECT_GT(seen, 1) << client.Stdout();
}

TEST_F(PatchRunTest, APatchListIsBoundedBeforeAndDuringItsTransfer) {
  MakeWorld(kDataPatchDue);
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  const std::string list = "tarvo/PatchInfo/FileList_100.dat";
  const struct {
    const char* what;
    std::vector<std::string> announced;
    std::vector<std::string> endless;
    int retrs;
  } cases[] = {
      {"a record appended while it is sent", {list + "=100"}, {}, 10},
      {"announced as 10 GiB: never asked for", {list + "=10737418240"}, {}, 0},
      {"no size told, and no end", {list + "=none"}, {list}, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FtpServer::Options options = FtpOptions();
    options.announcedSizes = c.announced;
    options.endlessFiles = c.endless;
    FtpServer ftp(options);
    ClientProcess client;
    ASSERT_TRUE(RunToEnd(server.Port(), ftp.Port(), client));
    EXPECT_EQ(client.Stderr(), std::string(kStopPatchDownload) + "\n");
    EXPECT_EQ(ftp.CountInLog("<- RETR FileList_100.dat"), c.retrs);
    EXPECT_EQ(ftp.CountInLog("<- RETR "), c.retrs);
    EXPECT_FALSE(fs::exists(Game("TempList.dat")));
    EXPECT_FLOAT_EQ(Version(3), 1.0f);
  }
}

TEST_F(PatchRunTest, AnInstallationWithoutAnImageFolderStillTakesItsMusic) {
  const char* const versions = "1.0,1.0,1.0,1.1";
  MakeWorld(versions);
  fs::remove_all(Game("Image"));
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(versions));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stderr();
  EXPECT_EQ(ReadTextFile(Game("Image/Temp/QKNList.dat")), ReadTextFile(Remote("TarvoPatch/QKNList.dat")));
  EXPECT_FALSE(fs::exists(Game("QKNList_New.dat")));
  EXPECT_FLOAT_EQ(MusicVersion(Game("Music/Temp/zoma1.qkn")), 1.5f);  // in place from the next run on
  EXPECT_FLOAT_EQ(Version(4), 1.1f);
  client.CloseStdin();
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_EQ(client.Stderr(), "");
}

}  // namespace

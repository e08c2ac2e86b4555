// The Windows client (TarvoPatchClient.exe from the cross build) run whole under Wine from the
// Linux side, against the demo patch server and a real FTP server on loopback: a data patch with
// its versions in the Wine registry and Start launching the game, the launcher update, a stop code,
// and a hostile archive. The game's programs are copies of tests/windows/stand_in.cpp's program.
//
// Runs when TARVO_WINDOWS_CLIENT names the .exe and WINEPREFIX a prefix made for it (scripts/test
// windows sets both); skipped otherwise.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "e2e_support.h"
#include "install_test_support.h"
#include "support/ClientProcess.h"
#include "support/FtpServer.h"
#include "support/PatchServer.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWineWaitMs = 90000;  // Wine's first start in a prefix takes its time
const char* const kProductKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brix\\Tarvo";
// The game and its installer are 32-bit programs: their key is in the registry's 32-bit view, where
// the client reads and writes it too.
const char* const kInstallerView = "/reg:32";
const char* const kStopNotFound = "尚未找到补丁文件,因此中断执行.";
const char* const kDataPatchDue = "1.0,1.0,1.2.3,1.0";

std::string FromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// A Linux path as a Windows program under Wine names it.
std::string WinePath(const std::string& path) {
  std::string windows = "Z:" + path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

class WindowsClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_exe = FromEnvironment("TARVO_WINDOWS_CLIENT");
    if (m_exe.empty() || FromEnvironment("WINEPREFIX").empty()) {
      GTEST_SKIP() << "TARVO_WINDOWS_CLIENT and WINEPREFIX name no Windows client (scripts/test windows sets them)";
    }
    m_standIn = (fs::path(m_exe).parent_path() / "tests" / "tarvo-stand-in.exe").string();
    ASSERT_TRUE(fs::exists(m_standIn)) << m_standIn;
  }

  // Runs a Windows program of Wine's own (reg, ...) to its end; returns its exit code.
  int Wine(const std::vector<std::string>& args, std::string* out = nullptr) {
    ClientProcess process;
    if (!process.Start(args, WineEnvironment(), "/usr/bin/wine")) return -1;
    process.CloseStdin();
    int code = process.Wait(kWineWaitMs);
    if (out) *out = process.Stdout();
    return code;
  }

  std::map<std::string, std::string> WineEnvironment(std::map<std::string, std::string> env = {}) const {
    env.insert({{"WINEDEBUG", "-all"}, {"WINEDLLOVERRIDES", "mscoree,mshtml="}});
    return env;
  }

  // A world whose installation key is in the Wine registry, where the client reads it.
  void MakeWorld(const std::string& serverVersions, const std::string& registryVersions = "1.0,1.0,1.0,1.0") {
    ASSERT_TRUE(e2e::MakeWorld(m_world, serverVersions, registryVersions, "--windows-stand-in '" + m_standIn + "'"));
    Wine({"reg", "delete", kProductKey, "/f", kInstallerView});
    ASSERT_EQ(Wine({"reg", "import", WinePath(m_world + "/registry.reg"), kInstallerView}), 0);
  }

  void StartClient(ClientProcess& client, int patchPort, int ftpPort) {
    auto env = WineEnvironment({{"TARVO_FTP_PORT", std::to_string(ftpPort)}, {"TARVO_UI", "console"}});
    ASSERT_TRUE(client.Start({m_exe, "1", "127.0.0.1", std::to_string(patchPort)}, env, "/usr/bin/wine"));
  }

  // "VersionN" of the product key in the Wine registry, as a float; NaN when it is missing.
  float Version(int n) {
    std::string out;
    const std::string name = "Version" + std::to_string(n);
    if (Wine({"reg", "query", kProductKey, "/v", name, kInstallerView}, &out) != 0) return NAN;
    size_t at = out.find("0x", out.find(name));
    if (at == std::string::npos) return NAN;
    uint32_t bits = static_cast<uint32_t>(std::stoul(out.substr(at + 2), nullptr, 16));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  std::string Game(const std::string& relative) const { return m_world + "/game/" + relative; }
  std::string Remote(const std::string& relative) const { return m_world + "/ftp/tarvo/" + relative; }
  FtpServer::Options FtpOptions() const {
    FtpServer::Options options;
    options.root = m_world + "/ftp";
    return options;
  }

  std::string m_exe;
  std::string m_standIn;
  TempDir m_dir{"tarvo-wine"};
  std::string m_world = m_dir / "world";
};

TEST_F(WindowsClientTest, DataPatchUnpacksRecordsInTheWineRegistryAndStartLaunchesTheGame) {
  MakeWorld(kDataPatchDue);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWineWaitMs)) << client.Stdout() << client.Stderr();

  e2e::ExpectDemoDataPatchInstalled(ftp, m_world + "/game");
  EXPECT_EQ(ftp.CountInLog("<- SIZE "), 0);  // sizes come from the listing
  EXPECT_FLOAT_EQ(Version(3), 1.23f);
  EXPECT_FLOAT_EQ(Version(1), 1.0f);

  client.WriteStdin("\n");
  EXPECT_EQ(client.Wait(kWineWaitMs), 0);
  EXPECT_EQ(client.Stderr(), "");
  ASSERT_TRUE(e2e::WaitForFile(Game("zobi_args.txt"), kWineWaitMs));
  EXPECT_EQ(ReadTextFile(Game("zobi_args.txt")).rfind("Zobi.exe started with ", 0), 0u);
}

TEST_F(WindowsClientTest, LauncherUpdateEndsWithTheNewLaunchersStart) {
  const char* const versions = "1.1,1.1,1.2.3,1.1";
  MakeWorld(versions);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(versions));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_NE(client.Wait(kWineWaitMs), -1) << client.Stdout();
  EXPECT_EQ(client.Stderr(), "");
  e2e::ExpectLauncherUpdateRestartedTheNewLauncher(ftp, m_world + "/game", m_world + "/ftp/tarvo", kWineWaitMs);
  EXPECT_FLOAT_EQ(Version(1), 1.1f);
  EXPECT_FLOAT_EQ(Version(2), 1.1f);
  EXPECT_FLOAT_EQ(Version(3), 1.0f);
}

TEST_F(WindowsClientTest, AMissingPatchListStopsWithItsMessageAndRecordsNothing) {
  MakeWorld(kDataPatchDue);
  fs::remove(Remote("PatchInfo/FileList_100.dat"));
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_NE(client.Wait(kWineWaitMs), -1) << client.Stdout();
  EXPECT_EQ(client.Stderr(), std::string(kStopNotFound) + "\n");
  EXPECT_FLOAT_EQ(Version(3), 1.0f);
  EXPECT_EQ(ReadTextFile(Game("Data/order.txt")), "old");
}

TEST_F(WindowsClientTest, AHostileArchiveWritesNothingOutsideTheGameFolder) {
  MakeWorld(kDataPatchDue, "1.0,1.0,1.1,1.0");
  // The one archive of level 1.2 that carries data, rewritten with names that climb out of the
  // game folder or name other drives, after a harmless first entry.
  const std::string escaped = m_dir / "escaped.txt";
  const std::string names[] = {"..\\..\\escaped.txt", "../../escaped.txt", "Data/../../../escaped.txt",
                               "C:\\escaped.txt", WinePath(escaped), escaped};
  const std::string archive = Remote("TarvoPatch/Data/C_120.zip");
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::string pythonName = name;
    for (size_t at = 0; (at = pythonName.find('\\', at)) != std::string::npos; at += 2) pythonName.insert(at, "\\");
    install_test::MakeZip(archive, "[(b'Data/first.txt', b'1', 8, False), (b'" + pythonName + "', b'evil', 8, False)]");
    const std::string list = Remote("PatchInfo/FileList_110.dat");
    std::string records = ReadTextFile(list);
    records = std::regex_replace(records, std::regex("(C_120\\.zip) \\d+"), "$1 " + std::to_string(fs::file_size(archive)));
    WriteTextFile(list, records);

    FtpServer ftp(FtpOptions());
    PatchServer server(e2e::PatchConfig(kDataPatchDue));
    ClientProcess client;
    StartClient(client, server.Port(), ftp.Port());
    ASSERT_NE(client.Wait(kWineWaitMs), -1) << client.Stdout();
    EXPECT_NE(client.Stderr(), "");  // the patch stopped with a message
    EXPECT_FALSE(fs::exists(escaped));
    EXPECT_FALSE(fs::exists(m_world + "/escaped.txt"));
    EXPECT_FALSE(fs::exists(FromEnvironment("WINEPREFIX") + "/drive_c/escaped.txt"));
    EXPECT_FALSE(fs::exists(Game("Data/first.txt")));
    EXPECT_FLOAT_EQ(Version(3), 1.1f);
  }
}

}  // namespace

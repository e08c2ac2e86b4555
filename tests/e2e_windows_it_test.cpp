// The Windows client (TarvoPatchClient.exe from the cross build) run whole under Wine from the
// Linux side, against the demo patch server and a real FTP server on loopback: a data patch with
// its versions in the Wine registry and Start launching the game, the launcher update, the single
// instance and Ctrl+C, a stop code, a hostile archive, links in the game folder and in the registry
// file's place, and a patch server that floods the client after the session. The game's programs
// are copies of tests/windows/stand_in.cpp's program.
//
// Runs when TARVO_WINDOWS_CLIENT names the .exe and WINEPREFIX a prefix made for it (scripts/test
// windows sets both); skipped otherwise.
#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include "e2e_support.h"
#include "install_test_support.h"
#include "session/PatchPacket.h"
#include "support/ClientProcess.h"
#include "support/FtpServer.h"
#include "support/PatchServer.h"
#include "wine_support.h"

namespace fs = std::filesystem;

namespace {

using wine::kWaitMs;
using wine::Version;
using wine::WinePath;
const char* const kStopNotFound = "尚未找到补丁文件,因此中断执行.";
const char* const kDataPatchDue = "1.0,1.0,1.2.3,1.0";

// What a Windows program wrote in text mode, with its line ends as Linux writes them.
std::string Unix(std::string text) {
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
  return text;
}

class WindowsClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_exe = wine::ClientExe();
    if (m_exe.empty()) {
      GTEST_SKIP() << "TARVO_WINDOWS_CLIENT and WINEPREFIX name no Windows client (scripts/test windows sets them)";
    }
    ASSERT_TRUE(fs::exists(wine::StandInExe())) << wine::StandInExe();
  }

  void MakeWorld(const std::string& serverVersions, const std::string& registryVersions = "1.0,1.0,1.0,1.0") {
    ASSERT_TRUE(wine::MakeWorld(m_world, serverVersions, registryVersions));
  }

  void StartClient(ClientProcess& client, int patchPort, int ftpPort, std::map<std::string, std::string> extra = {}) {
    extra.insert({{"TARVO_FTP_PORT", std::to_string(ftpPort)}, {"TARVO_UI", "console"}});
    auto env = wine::Environment(extra);
    ASSERT_TRUE(client.Start({m_exe, "1", "127.0.0.1", std::to_string(patchPort)}, env, "/usr/bin/wine"));
  }

  std::string Game(const std::string& relative) const { return m_world + "/game/" + relative; }
  std::string Remote(const std::string& relative) const { return m_world + "/ftp/tarvo/" + relative; }
  FtpServer::Options FtpOptions() const {
    FtpServer::Options options;
    options.root = m_world + "/ftp";
    return options;
  }

  std::string m_exe;
  TempDir m_dir{"tarvo-wine"};
  std::string m_world = m_dir / "world";
};

TEST_F(WindowsClientTest, DataPatchUnpacksRecordsInTheWineRegistryAndStartLaunchesTheGame) {
  MakeWorld(kDataPatchDue);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stdout() << client.Stderr();

  e2e::ExpectDemoDataPatchInstalled(ftp, m_world + "/game");
  EXPECT_EQ(ftp.CountInLog("<- SIZE "), 0);  // sizes come from the listing
  EXPECT_FLOAT_EQ(Version(3), 1.23f);
  EXPECT_FLOAT_EQ(Version(1), 1.0f);

  client.WriteStdin("\n");
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_EQ(client.Stderr(), "");
  ASSERT_TRUE(e2e::WaitForFile(Game("zobi_args.txt"), kWaitMs));
  EXPECT_EQ(ReadTextFile(Game("zobi_args.txt")).rfind("Zobi.exe started with ", 0), 0u);
}

TEST_F(WindowsClientTest, LauncherUpdateEndsWithTheNewLaunchersStart) {
  const char* const versions = "1.1,1.1,1.2.3,1.1";
  MakeWorld(versions);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(versions));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_NE(client.Wait(kWaitMs), -1) << client.Stdout();
  EXPECT_EQ(client.Stderr(), "");
  e2e::ExpectLauncherUpdateRestartedTheNewLauncher(ftp, m_world + "/game", m_world + "/ftp/tarvo", kWaitMs);
  EXPECT_FLOAT_EQ(Version(1), 1.1f);
  EXPECT_FLOAT_EQ(Version(2), 1.1f);
  EXPECT_FLOAT_EQ(Version(3), 1.0f);
}

TEST_F(WindowsClientTest, ASecondCopyRefusesWhileTheFirstWaitsAndCtrlCPressesCancel) {
  const char* const current = "1.0,1.0,1.0,1.0";
  MakeWorld(current);
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(current));
  ClientProcess first;
  StartClient(first, server.Port(), ftp.Port());
  ASSERT_TRUE(first.WaitForStdout("Ready.", kWaitMs)) << first.Stdout() << first.Stderr();

  ClientProcess second;  // the named mutex is the prefix's, as a session's is on Windows
  StartClient(second, server.Port(), ftp.Port());
  EXPECT_EQ(second.Wait(kWaitMs), 0);
  EXPECT_EQ(Unix(second.Stderr()), "Tarvo is already running!\n");

  first.Signal(SIGINT);  // Wine hands it to the program as Ctrl+C
  EXPECT_EQ(first.Wait(kWaitMs), 0);
  EXPECT_EQ(first.Stderr(), "");
  EXPECT_FALSE(fs::exists(Game("zobi_args.txt")));
}

TEST_F(WindowsClientTest, AMissingPatchListStopsWithItsMessageAndRecordsNothing) {
  MakeWorld(kDataPatchDue);
  fs::remove(Remote("PatchInfo/FileList_100.dat"));
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_NE(client.Wait(kWaitMs), -1) << client.Stdout();
  EXPECT_EQ(Unix(client.Stderr()), std::string(kStopNotFound) + "\n");
  EXPECT_FLOAT_EQ(Version(3), 1.0f);
  EXPECT_EQ(ReadTextFile(Game("Data/order.txt")), "old");
}

TEST_F(WindowsClientTest, AHostileArchiveWritesNothingOutsideTheGameFolder) {
  MakeWorld(kDataPatchDue, "1.0,1.0,1.1,1.0");
  // The one archive of level 1.2 that carries data, rewritten with names that climb out of the
  // game folder, name other drives or name a device (which would take the bytes and report success),
  // after a harmless first entry.
  const std::string escaped = m_dir / "escaped.txt";
  const std::string names[] = {"..\\..\\escaped.txt", "../../escaped.txt", "Data/../../../escaped.txt",
                               "C:\\escaped.txt", WinePath(escaped), escaped, "Data\\Nul.txt"};
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
    ASSERT_NE(client.Wait(kWaitMs), -1) << client.Stdout();
    EXPECT_NE(client.Stderr(), "");  // the patch stopped with a message
    EXPECT_FALSE(fs::exists(escaped));
    EXPECT_FALSE(fs::exists(m_world + "/escaped.txt"));
    EXPECT_FALSE(fs::exists(wine::FromEnvironment("WINEPREFIX") + "/drive_c/escaped.txt"));
    EXPECT_FALSE(fs::exists(Game("Data/first.txt")));
    EXPECT_FLOAT_EQ(Version(3), 1.1f);
  }
}

// The links are made from the Linux side, as a player's own links on the disk that Wine shows as Z:.
// Wine shows a Linux link to a file as the file it points to (attributes, find data and an open
// handle alike, with or without FILE_FLAG_OPEN_REPARSE_POINT): only the final path of a handle gives
// it away. A link to a folder shows the reparse-point attribute, without a reparse tag.
TEST_F(WindowsClientTest, LinksInFilesPlacesAreReplacedOrLeftAloneNeverWrittenThrough) {
  const char* const versions = "1.0,1.0,1.2.3,1.1";  // the music step, then the data patch
  MakeWorld(versions);
  const std::string outside = m_dir / "outside";
  fs::create_directories(outside);
  // A patched file's place holds a link to a read-only file elsewhere.
  WriteTextFile(outside + "/a.dat", "outside");
  fs::permissions(outside + "/a.dat", fs::perms(0444));
  fs::remove(Game("Data/a.dat"));
  fs::create_symlink(outside + "/a.dat", Game("Data/a.dat"));
  // A song without its thumbnail, whose picture the pack has, is a link.
  fs::rename(Game("Music/zoma2.qkn"), outside + "/zoma2.qkn");
  fs::create_symlink(outside + "/zoma2.qkn", Game("Music/zoma2.qkn"));
  const std::string song = ReadTextFile(outside + "/zoma2.qkn");
  const std::string plainSong = ReadTextFile(Game("Music/zoma3.qkn"));

  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(versions));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stdout() << client.Stderr();
  EXPECT_EQ(client.Stderr(), "");

  EXPECT_FALSE(fs::is_symlink(Game("Data/a.dat")));
  EXPECT_EQ(ReadTextFile(Game("Data/a.dat")), "a, level 1.1");
  EXPECT_EQ(ReadTextFile(outside + "/a.dat"), "outside");
  EXPECT_EQ(fs::status(outside + "/a.dat").permissions() & fs::perms::all, fs::perms(0444));
  EXPECT_TRUE(fs::is_symlink(Game("Music/zoma2.qkn")));
  EXPECT_EQ(ReadTextFile(outside + "/zoma2.qkn"), song);
  EXPECT_NE(ReadTextFile(Game("Music/zoma3.qkn")), plainSong);  // the thumbnail step did run
  EXPECT_FLOAT_EQ(Version(3), 1.23f);
  EXPECT_FLOAT_EQ(Version(4), 1.1f);
  client.CloseStdin();
  EXPECT_EQ(client.Wait(kWaitMs), 0);
}

TEST_F(WindowsClientTest, ScratchFoldersThatAreLinksAreNeverUsed) {
  const char* const versions = "1.0,1.0,1.0,1.1";  // the music step only
  MakeWorld(versions);
  // The player's own files where the links point.
  const std::string music = m_dir / "music elsewhere";
  const std::string image = m_dir / "image elsewhere";
  fs::create_directories(music);
  fs::create_directories(image);
  WriteTextFile(music + "/zoma9.qkn", "the player's song");
  WriteTextFile(music + "/notes.txt", "the player's notes");
  WriteTextFile(image + "/QKNList.dat", "the player's list");
  fs::create_directory_symlink(music, Game("Music/Temp"));
  fs::create_directories(Game("Image"));
  fs::create_directory_symlink(image, Game("Image/Temp"));

  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(versions));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_NE(client.Wait(kWaitMs), -1) << client.Stdout();
  // The music move refuses the linked Music\Temp, and the list has no place to go.
  EXPECT_EQ(Unix(client.Stderr()), "Music patch failed..\n无法下载音乐数据,因此中断执行.\n");
  EXPECT_EQ(ftp.CountInLog("<- RETR "), 0);
  EXPECT_EQ(ReadTextFile(music + "/zoma9.qkn"), "the player's song");
  EXPECT_EQ(ReadTextFile(music + "/notes.txt"), "the player's notes");
  EXPECT_EQ(ReadTextFile(image + "/QKNList.dat"), "the player's list");
  EXPECT_EQ(std::distance(fs::directory_iterator(music), {}), 2);
  EXPECT_EQ(std::distance(fs::directory_iterator(image), {}), 1);
  EXPECT_FALSE(fs::exists(Game("Music/zoma9.qkn")));
  EXPECT_TRUE(fs::is_symlink(Game("Music/Temp")));
  EXPECT_TRUE(fs::is_symlink(Game("Image/Temp")));
  EXPECT_FLOAT_EQ(Version(4), 1.0f);
}

// TARVO_REGISTRY keeps the installation key in a file on Windows too; a link there is the player's
// way of keeping the file elsewhere, and stays.
TEST_F(WindowsClientTest, ARegistryFileThatIsALinkIsUpdatedWhereItPoints) {
  MakeWorld(kDataPatchDue);
  const std::string real = m_dir / "kept elsewhere/registry.reg";
  fs::create_directories(fs::path(real).parent_path());
  fs::rename(m_world + "/registry.reg", real);
  const std::string link = m_world + "/registry.reg";
  fs::create_symlink(real, link);
  wine::Reg({"delete", wine::kProductKey, "/f"});  // the file, not the Wine registry, holds the key

  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port(), {{"TARVO_REGISTRY", WinePath(link)}});
  ASSERT_TRUE(client.WaitForStdout("Ready.", kWaitMs)) << client.Stdout() << client.Stderr();
  client.CloseStdin();
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), real);
  EXPECT_FLOAT_EQ(e2e::RegistryVersion(real, 3), 1.23f);
  EXPECT_FALSE(fs::exists(link + ".tmp"));
  EXPECT_TRUE(std::isnan(Version(3)));
}

// A song as the demo world writes one: the 300-byte header (id, version, data size, data place),
// then the data.
std::string Song(uint32_t id, float version, const std::string& body) {
  std::string header(300, '\0');
  uint32_t bits;
  std::memcpy(&bits, &version, sizeof bits);
  auto put = [&header](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) header[at + i] = static_cast<char>(value >> (8 * i));
  };
  put(0, id);
  put(104, bits);
  put(268, static_cast<uint32_t>(body.size()));
  put(296, 300);
  return header + body;
}

std::string Hex(const PatchPacket& packet) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (uint16_t i = 0; i < packet.Length(); ++i) {
    hex += digits[packet.Buffer()[i] >> 4];
    hex += digits[packet.Buffer()[i] & 15];
  }
  return hex;
}

TEST_F(WindowsClientTest, AFloodOfFramesAfterTheGameServersChangesNothingTheMusicStepReads) {
  const char* const versions = "1.0,1.0,1.0,1.1";  // the music step only
  MakeWorld(versions);
  // 80 songs of the installation have a newer version on the server.
  std::vector<std::string> published;
  for (const char* name : {"zoma1.qkn", "zoma2.qkn", "zoma3.qkn"}) published.push_back(m_world + "/operator/songs/" + name);
  for (uint32_t id = 4; id < 84; ++id) {
    const std::string name = "zoma" + std::to_string(id) + ".qkn";
    WriteTextFile(Game("Music/" + name), Song(id, 1.0f, "old " + name));
    WriteTextFile(m_world + "/operator/songs/" + name, Song(id, 1.5f, "new " + name));
    published.push_back(m_world + "/operator/songs/" + name);
  }
  std::string command = std::string(TARVO_PUBLISH_BINARY) + " music --root '" + Remote("") + "'";
  for (const std::string& song : published) command += " '" + song + "'";
  ASSERT_EQ(std::system((command + " > /dev/null").c_str()), 0);

  // After the game servers: server versions and download places that would lead nowhere, in
  // bursts, all through the run.
  PatchPacket versionsFrame;
  versionsFrame.Prepare(1);
  versionsFrame.WriteU32(0);
  for (const char* text : {"9.9", "9.9", "9.9", "9.9"}) versionsFrame.WriteString(text);
  PatchPacket placesFrame;
  placesFrame.Prepare(3);
  placesFrame.WriteU32(0);
  placesFrame.WriteString("late");
  placesFrame.WriteString("/nowhere");
  placesFrame.WriteU32(2);
  placesFrame.WriteString("1:192.0.2.1");
  placesFrame.WriteString("2:192.0.2.1");
  FtpServer ftp(FtpOptions());
  PatchServer server(e2e::PatchConfig(versions) + R"(, "keep_sending": {"frame": {"raw": ")" + Hex(versionsFrame) +
                     Hex(placesFrame) + R"("}, "every_ms": 0, "burst": 17})");
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  // 81 songs under Wine take about a minute on an idle machine; a busy one may take more than 90 s.
  ASSERT_TRUE(client.WaitForStdout("Ready.", 2 * kWaitMs)) << client.Stdout() << client.Stderr();
  EXPECT_EQ(client.Stderr(), "");
  EXPECT_EQ(ftp.CountInLog("<- RETR "), 82) << ftp.Log();  // the list and every newer song
  EXPECT_FLOAT_EQ(Version(4), 1.1f);
  client.CloseStdin();
  EXPECT_EQ(client.Wait(kWaitMs), 0);
}

}  // namespace

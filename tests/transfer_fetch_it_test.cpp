// The shared fetch procedure and the named fetches: retries, stop codes, temporary files and
// folders, and the replace step.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "session/StopCodes.h"
#include "transfer/FtpFetch.h"
#include "transfer_fixture.h"

using namespace transfer_test;

namespace {

// A loopback port that nothing listens on (connections to it are refused).
int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

TEST_F(TransferTest, MissingRemoteFileCostsTenAttemptsThenTheFetchStopCode) {
  FtpServer& server = StartServer();
  server.PutFile("TarvoMusic/other.qkn", "x");

  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Dlg().FetchMusic(5));
  double seconds = SecondsSince(start);

  EXPECT_EQ(StopCodes(), std::vector<unsigned>{STOP_MUSIC_FILE});
  EXPECT_EQ(server.CountInLog("<- SIZE zoma5.qkn"), 10);
  EXPECT_EQ(server.LoginCount(), 1);
  EXPECT_GE(seconds, 4.4);  // 500 ms between attempts
  EXPECT_EQ(Dlg().m_nTries, 0);
  // The temporary file and the emptied temporary folder are gone; the game folder is current.
  EXPECT_FALSE(std::filesystem::exists(GamePath("Music/Temp")));
  EXPECT_FALSE(std::filesystem::exists(GamePath("Update.qk_")));
  EXPECT_EQ(platform::GetCurrentDirectory(), m_game);
}

TEST_F(TransferTest, FailedMusicListFetchKeepsATemporaryFolderThatHoldsOtherFiles) {
  StartServer();
  WriteWholeFile(GamePath("Image/Temp/keep.txt"), "mine");

  EXPECT_FALSE(Dlg().FetchMusicList());
  EXPECT_EQ(StopCodes(), std::vector<unsigned>{STOP_MUSIC_DATA});
  EXPECT_FALSE(std::filesystem::exists(GamePath("Image/Temp/QKNList_New.dat")));
  EXPECT_EQ(ReadWholeFile(GamePath("Image/Temp/keep.txt")), "mine");
  EXPECT_EQ(platform::GetCurrentDirectory(), m_game);
}

TEST_F(TransferTest, RefusedConnectionIsRetriedThreeTimesThenStopCodeZero) {
  setenv("TARVO_FTP_PORT", std::to_string(ClosedPort()).c_str(), 1);

  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Dlg().FetchPatchClient());
  double seconds = SecondsSince(start);

  EXPECT_EQ(StopCodes(), std::vector<unsigned>{STOP_FTP_CONNECT});
  EXPECT_GE(seconds, 1.4);  // three waits of 500 ms
  EXPECT_EQ(Dlg().m_nTries, 4);
  EXPECT_EQ(platform::GetCurrentDirectory(), m_game);
}

TEST_F(TransferTest, ConnectionThatRecoversWithinTheRetriesSucceeds) {
  FtpServer& server = StartServer();
  server.PutFile("TarvoPatch/AgentIP.ini", "new list");
  WriteWholeFile(GamePath("AgentIP.ini"), "old list");
  // Two failed connections before this fetch: one repeat is left after a third failure.
  Dlg().m_nTries = 2;

  ASSERT_TRUE(Dlg().FetchAgentList());
  EXPECT_EQ(ReadWholeFile(GamePath("AgentIP.ini")), "new list");
  EXPECT_EQ(Dlg().m_nTries, 0);
  EXPECT_TRUE(StopCodes().empty());
}

TEST_F(TransferTest, EmptyHostListStopsAtOnce) {
  StartServer();
  Dlg().m_gameHosts.clear();  // the music fetch takes the game hosts, not the FTP hosts

  EXPECT_FALSE(Dlg().FetchMusic(7));
  EXPECT_EQ(Dlg().m_nTries, 0);  // no connection was tried
  EXPECT_EQ(StopCodes(), std::vector<unsigned>{STOP_FTP_CONNECT});
  EXPECT_EQ(m_server->LoginCount(), 0);
  EXPECT_EQ(platform::GetCurrentDirectory(), m_game);
}

TEST_F(TransferTest, MusicIdsNameTheRemoteFileAndItsLocalName) {
  FtpServer& server = StartServer();
  server.PutFile("TarvoMusic/zoma5.qkn", "plain");
  server.PutFile("TarvoMusic/zoma5_2.qkn", "variant two");
  server.PutFile("TarvoMusic/zoma65535_65535.qkn", "largest");

  EXPECT_TRUE(Dlg().FetchMusic(5));
  EXPECT_TRUE(Dlg().FetchMusic(5u | (2u << 16)));
  EXPECT_TRUE(Dlg().FetchMusic(0xFFFFFFFFu));
  EXPECT_EQ(ReadWholeFile(GamePath("Music/Temp/zoma5.qkn")), "plain");
  EXPECT_EQ(ReadWholeFile(GamePath("Music/Temp/zoma5_2.qkn")), "variant two");
  EXPECT_EQ(ReadWholeFile(GamePath("Music/Temp/zoma65535_65535.qkn")), "largest");
  EXPECT_FALSE(std::filesystem::exists(GamePath("Music/Temp/Update.qk_")));
  EXPECT_EQ(platform::GetCurrentDirectory(), m_game);
}

TEST_F(TransferTest, LauncherReplacementWaitsForTheOldFileThenGivesUp) {
  FtpServer& server = StartServer();
  server.PutFile("TarvoPatch/Tarvo.exe", "new launcher");
  WriteWholeFile(GamePath("Tarvo.exe"), "old launcher");

  {
    platform::FileHandle running;  // the launcher still holds its program file open
    ASSERT_TRUE(running.Open(GamePath("Tarvo.exe"), platform::kGenericRead, platform::kShareRead,
                             platform::kOpenExisting));
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Dlg().FetchLauncher());
    EXPECT_GE(SecondsSince(start), 4.4);
  }
  EXPECT_EQ(ReadWholeFile(GamePath("Tarvo.exe")), "old launcher");
  EXPECT_EQ(ReadWholeFile(GamePath("_Temp.ex_")), "new launcher");
  EXPECT_TRUE(StopCodes().empty());

  // Once the old program is closed the next fetch puts the new one in place, ready to start.
  ASSERT_TRUE(Dlg().FetchLauncher());
  EXPECT_EQ(ReadWholeFile(GamePath("Tarvo.exe")), "new launcher");
  EXPECT_FALSE(std::filesystem::exists(GamePath("_Temp.ex_")));
  struct stat st {};
  ASSERT_EQ(stat(GamePath("Tarvo.exe").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
}

TEST_F(TransferTest, FetchWithoutAGameFolderLeavesTheReportToTheRegistry) {
  StartServer();
  WriteWholeFile(m_registry, "REGEDIT4\n");

  EXPECT_FALSE(Dlg().FetchMusicList());
  EXPECT_EQ(StopCodes(), std::vector<unsigned>{STOP_NO_INSTALL_INFO});
  EXPECT_EQ(m_server->LoginCount(), 0);
}

TEST_F(TransferTest, FetchesWriteNothingWhereTheGameFolderCannotBeEntered) {
  FtpServer& server = StartServer();
  server.PutFile("TarvoPatch/Tarvo.exe", "new launcher");
  server.PutFile("TarvoPatch/TarvoPatchClient.exe", "new client");
  const std::string elsewhere = m_folder.Path() + "/elsewhere";
  std::filesystem::create_directories(elsewhere);
  for (const char* folder : {"", "/no/such/folder", "game"}) {
    WriteWholeFile(m_registry, std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brix\\Tarvo]\n\"defaultdir\"=\"") +
                                   folder + "\"\n");
    for (bool (CPatchClientDlg::*fetch)() : {&CPatchClientDlg::FetchLauncher, &CPatchClientDlg::FetchPatchClient}) {
      SCOPED_TRACE(folder);
      DialogHarness harness;
      ASSERT_TRUE(platform::SetCurrentDirectory(elsewhere));
      harness.Dlg().m_ftpHosts = {"127.0.0.1"};
      EXPECT_FALSE((harness.Dlg().*fetch)());
      EXPECT_EQ(harness.Messages(), std::vector<std::string>{std::string("无法访问游戏文件夹\"") + folder + "\",因此中断执行."});
      EXPECT_EQ(harness.StopCodes(), std::vector<unsigned>{STOP_SILENT});
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
  EXPECT_EQ(server.LoginCount(), 0);
}

TEST_F(TransferTest, MusicListFetchMakesTheFoldersItNeedsOrStopsWithItsCode) {
  FtpServer& server = StartServer();
  server.PutFile("TarvoPatch/QKNList.dat", "list");
  std::filesystem::remove_all(GamePath("Image"));
  EXPECT_TRUE(Dlg().FetchMusicList());
  EXPECT_EQ(ReadWholeFile(GamePath("Image/Temp/QKNList_New.dat")), "list");
  EXPECT_EQ(platform::GetCurrentDirectory(), m_game);

  // "Image" taken by a file: the list has no place to go, and nothing lands in the game folder.
  std::filesystem::remove_all(GamePath("Image"));
  WriteWholeFile(GamePath("Image"), "not a folder");
  EXPECT_FALSE(Dlg().FetchMusicList());
  EXPECT_EQ(StopCodes(), std::vector<unsigned>{STOP_MUSIC_DATA});
  EXPECT_FALSE(std::filesystem::exists(GamePath("QKNList_New.dat")));
  EXPECT_EQ(server.CountInLog("<- RETR "), 1);
  EXPECT_EQ(platform::GetCurrentDirectory(), m_game);
}

TEST_F(TransferTest, ScratchFoldersThatAreLinksAreNeverUsed) {
  FtpServer& server = StartServer();
  server.PutFile("TarvoMusic/zoma5.qkn", "new song");
  server.PutFile("TarvoPatch/QKNList.dat", "list");
  server.PutFile("TarvoPatch/TarvoPatchClient.exe", "new client");
  const std::string elsewhere = m_folder.Path() + "/elsewhere";
  const char* const names[] = {"zoma5.qkn", "QKNList.dat", "QKNList_New.dat", "TarvoPatchClient.exe"};
  for (const char* name : names) WriteWholeFile(elsewhere + "/" + name, "unrelated");
  for (const char* folder : {"Music/Temp", "Image/Temp", "Temp"}) {
    std::filesystem::create_directory_symlink(elsewhere, GamePath(folder));
  }
  auto fetchMusic = [](CPatchClientDlg& dlg) { return dlg.FetchMusic(5); };
  auto fetchList = [](CPatchClientDlg& dlg) { return dlg.FetchMusicList(); };
  auto fetchClient = [](CPatchClientDlg& dlg) { return dlg.FetchPatchClient(); };
  const std::pair<bool (*)(CPatchClientDlg&), unsigned> fetches[] = {
      {fetchMusic, STOP_MUSIC_FILE}, {fetchList, STOP_MUSIC_DATA}, {fetchClient, STOP_CLIENT_PATCH}};
  for (const auto& [fetch, code] : fetches) {
    DialogHarness harness;
    harness.Dlg().m_ftpHosts = harness.Dlg().m_gameHosts = {"127.0.0.1"};
    EXPECT_FALSE(fetch(harness.Dlg()));
    EXPECT_EQ(harness.StopCodes(), std::vector<unsigned>{code});
  }
  EXPECT_TRUE(Dlg().InstallMusicList());  // finds no list of its own to put in place
  EXPECT_EQ(platform::GetCurrentDirectory(), m_game);
  EXPECT_EQ(server.CountInLog("<- RETR "), 0);
  for (const char* name : names) EXPECT_EQ(ReadWholeFile(elsewhere + "/" + name), "unrelated") << name;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(elsewhere), {}), 4);
}

TEST_F(TransferTest, InstallMusicListReplacesTheListInImageTemp) {
  WriteWholeFile(GamePath("Image/Temp/QKNList.dat"), "old");
  WriteWholeFile(GamePath("Image/Temp/QKNList_New.dat"), "new");
  Dlg().InstallMusicList();
  EXPECT_EQ(ReadWholeFile(GamePath("Image/Temp/QKNList.dat")), "new");
  EXPECT_FALSE(std::filesystem::exists(GamePath("Image/Temp/QKNList_New.dat")));
  EXPECT_EQ(platform::GetCurrentDirectory(), m_game);

  // Without the Image\Temp folder nothing is deleted anywhere else.
  std::filesystem::remove_all(GamePath("Image/Temp"));
  WriteWholeFile(GamePath("QKNList.dat"), "not the music list folder");
  Dlg().InstallMusicList();
  EXPECT_EQ(ReadWholeFile(GamePath("QKNList.dat")), "not the music list folder");
  EXPECT_EQ(platform::GetCurrentDirectory(), m_game);
}

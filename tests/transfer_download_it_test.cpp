// Downloads from a real FTP server: what reaches the disk and what the status controls show.
#include <sys/stat.h>

#include "transfer/FtpFetch.h"
#include "transfer_fixture.h"

using namespace transfer_test;

namespace {

// The changes of one control, in order.
std::vector<std::string> ValuesOf(const std::vector<ControlChange>& changes, int id) {
  std::vector<std::string> values;
  for (const auto& change : changes) {
    if (change.id == id) values.push_back(change.value);
  }
  return values;
}

}  // namespace

TEST_F(TransferTest, ProgressOfAFileArrivingInPieces) {
  FtpServer::Options options;
  options.slowFiles = {"TarvoPatch/AgentIP.ini"};
  options.slowChunkBytes = 1000;
  FtpServer& server = StartServer(options);
  std::string content = server.PutPatternFile("TarvoPatch/AgentIP.ini", 2500);

  ASSERT_TRUE(Dlg().FetchAgentList());

  // With no old list there is nothing to delete, so the new one keeps its temporary name.
  EXPECT_EQ(ReadWholeFile(GamePath("_AgentIP.in_")), content);
  EXPECT_FALSE(platform::FileExists("AgentIP.ini"));
  EXPECT_TRUE(StopCodes().empty());
  EXPECT_EQ(Dlg().m_nTries, 0);

  std::vector<ControlChange> changes = Changes();
  ASSERT_GE(changes.size(), 2u);
  EXPECT_EQ(changes[0].id, IDC_FILE_PROGRESS);
  EXPECT_EQ(changes[0].value, "0");
  EXPECT_EQ(changes[1].id, IDC_STATUS);
  EXPECT_EQ(changes[1].value, "AgentIP.ini");
  // Each block updates the four controls in a fixed order, with bars in truncated thousandths.
  ASSERT_EQ((changes.size() - 2) % 4, 0u);
  bool sawThousandBytes = false;
  for (size_t i = 2; i < changes.size(); i += 4) {
    EXPECT_EQ(changes[i].id, IDC_FILE_BYTES);
    EXPECT_EQ(changes[i + 1].id, IDC_FILE_PROGRESS);
    EXPECT_EQ(changes[i + 2].id, IDC_TOTAL_BYTES);
    EXPECT_EQ(changes[i + 3].id, IDC_TOTAL_PROGRESS);
    long bytes = std::stol(changes[i].value);
    EXPECT_EQ(std::stol(changes[i + 1].value), bytes * 1000 / 2500);
    EXPECT_EQ(changes[i + 2].value, changes[i].value);  // a fresh fetch: file and total agree
    EXPECT_EQ(changes[i + 3].value, changes[i + 1].value);
    if (bytes == 1000) {
      sawThousandBytes = true;
      EXPECT_EQ(changes[i + 1].value, "400");
    }
  }
  EXPECT_TRUE(sawThousandBytes) << "the pieces did not arrive one by one";
  EXPECT_EQ(Dlg().View().GetBarPos(IDC_FILE_PROGRESS), 1000);
  EXPECT_EQ(Dlg().View().GetBarPos(IDC_TOTAL_PROGRESS), 1000);
  EXPECT_EQ(Dlg().View().GetLabel(IDC_FILE_BYTES), "2500");
  EXPECT_EQ(Dlg().View().GetLabel(IDC_TOTAL_BYTES), "2500");
}

TEST_F(TransferTest, LargeFileIsReportedInBlocksOfAtMost4096Bytes) {
  FtpServer& server = StartServer();
  std::string content = server.PutPatternFile("TarvoPatch/QKNList.dat", 300000);

  ASSERT_TRUE(Dlg().FetchMusicList());
  EXPECT_EQ(ReadWholeFile(GamePath("Image/Temp/QKNList_New.dat")), content);
  EXPECT_EQ(platform::GetCurrentDirectory(), m_game);

  long previous = 0;
  for (const std::string& value : ValuesOf(Changes(), IDC_FILE_BYTES)) {
    long bytes = std::stol(value);
    EXPECT_GT(bytes, previous);
    EXPECT_LE(bytes - previous, 4096);
    previous = bytes;
  }
  EXPECT_EQ(previous, 300000);
}

TEST_F(TransferTest, ZeroByteFileTouchesOnlyTheFileBarAndTheName) {
  FtpServer& server = StartServer();
  server.PutFile("TarvoPatch/QKNList.dat", "");

  ASSERT_TRUE(Dlg().FetchMusicList());
  ASSERT_TRUE(platform::FileExists(GamePath("Image/Temp/QKNList_New.dat")));
  EXPECT_EQ(ReadWholeFile(GamePath("Image/Temp/QKNList_New.dat")), "");

  std::vector<ControlChange> changes = Changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].id, IDC_FILE_PROGRESS);
  EXPECT_EQ(changes[0].value, "0");
  EXPECT_EQ(changes[1].id, IDC_STATUS);
  EXPECT_EQ(changes[1].value, "QKNList.dat");
  EXPECT_EQ(Dlg().View().GetLabel(IDC_FILE_BYTES), "");
}

TEST_F(TransferTest, BackslashNameIsFetchedFromTheSubfolderAndShownAsGiven) {
  FtpServer& server = StartServer();
  std::string content = server.PutPatternFile("TarvoPatch/sub/file.ext", 5000);

  std::unique_ptr<CFtpConnection> connection;
  ASSERT_EQ(ConnectToFolder(Dlg(), Dlg().m_ftpHosts, "TarvoPatch", connection), ConnectOutcome::kConnected);
  ASSERT_TRUE(Dlg().DownloadFile(connection.get(), "sub\\file.ext", "got.bin"));
  EXPECT_EQ(ReadWholeFile(GamePath("got.bin")), content);
  EXPECT_EQ(Dlg().View().GetLabel(IDC_STATUS), "sub\\file.ext");
  EXPECT_EQ(server.CountInLog("RETR file.ext"), 1);

  // Without a local name the remote name is the local one, folders and all.
  std::filesystem::create_directories(GamePath("sub"));
  ASSERT_TRUE(Dlg().DownloadFile(connection.get(), "sub\\file.ext", nullptr));
  EXPECT_EQ(ReadWholeFile(GamePath("sub/file.ext")), content);
}

TEST_F(TransferTest, LocalNamesThatLeaveTheCurrentFolderAreRefused) {
  FtpServer& server = StartServer();
  server.PutFile("TarvoPatch/x.bin", "data");
  server.PutFile("x.bin", "data");

  std::unique_ptr<CFtpConnection> connection;
  ASSERT_EQ(ConnectToFolder(Dlg(), Dlg().m_ftpHosts, "TarvoPatch", connection), ConnectOutcome::kConnected);
  for (const char* name : {"..\\x.bin", "../x.bin", "sub/../../x.bin", "/tmp/x.bin", "C:\\x.bin"}) {
    EXPECT_FALSE(Dlg().DownloadFile(connection.get(), name, nullptr)) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(m_folder.Path() + "/x.bin"));
}

TEST_F(TransferTest, BrokenTransferIsRetriedIntoAWholeFile) {
  FtpServer::Options options;
  options.cutFirstTransferOf = {"TarvoPatch/TarvoPatchClient.exe"};
  FtpServer& server = StartServer(options);
  std::string content = server.PutPatternFile("TarvoPatch/TarvoPatchClient.exe", 200000);

  ASSERT_TRUE(Dlg().FetchPatchClient());

  EXPECT_EQ(server.CountInLog("RETR TarvoPatchClient.exe"), 2);
  EXPECT_EQ(server.CountInLog("-> 426"), 1);
  std::string placed = GamePath("Temp/TarvoPatchClient.exe");
  EXPECT_EQ(ReadWholeFile(placed), content);
  EXPECT_FALSE(platform::FileExists(GamePath("Temp/TarvoPatchClient.ex_")));
  struct stat st {};
  ASSERT_EQ(stat(placed.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR) << "a fetched program must be startable";
  // The broken attempt's bytes are not counted twice.
  EXPECT_EQ(Dlg().View().GetLabel(IDC_TOTAL_BYTES), "200000");
  EXPECT_EQ(Dlg().View().GetBarPos(IDC_TOTAL_PROGRESS), 1000);
  EXPECT_TRUE(StopCodes().empty());
}

TEST_F(TransferTest, OneLoginServesSeveralFilesOfOneConnection) {
  FtpServer& server = StartServer();
  std::vector<std::string> contents;
  for (int i = 0; i < 4; ++i) {
    contents.push_back(server.PutPatternFile("TarvoPatch/Patch_" + std::to_string(i) + ".zip", 10000 + i));
  }

  std::unique_ptr<CFtpConnection> connection;
  ASSERT_EQ(ConnectToFolder(Dlg(), Dlg().m_ftpHosts, "TarvoPatch", connection), ConnectOutcome::kConnected);
  for (int i = 0; i < 4; ++i) {
    std::string name = "Patch_" + std::to_string(i) + ".zip";
    ASSERT_TRUE(Dlg().DownloadFile(connection.get(), name.c_str(), nullptr));
    EXPECT_EQ(ReadWholeFile(GamePath(name)), contents[i]);
  }
  connection.reset();

  EXPECT_EQ(server.CountInLog("<- RETR"), 4);
  EXPECT_EQ(server.LoginCount(), 1);
  EXPECT_EQ(server.CountInLog("<- PASS"), 1);
}

TEST_F(TransferTest, RemoteFolderMayBeRelativeToTheLoginFolderOrAbsolute) {
  FtpServer& server = StartServer();
  server.PutFile("pub/TarvoPatch/AgentIP.ini", "under pub");
  server.PutFile("TarvoPatch/AgentIP.ini", "at the top");
  WriteWholeFile(GamePath("AgentIP.ini"), "old");

  Dlg().m_strFtpRoot = "pub";
  ASSERT_TRUE(Dlg().FetchAgentList());
  EXPECT_EQ(ReadWholeFile(GamePath("AgentIP.ini")), "under pub");

  Dlg().m_strFtpRoot = "/pub";
  WriteWholeFile(GamePath("AgentIP.ini"), "old");
  ASSERT_TRUE(Dlg().FetchAgentList());
  EXPECT_EQ(ReadWholeFile(GamePath("AgentIP.ini")), "under pub");

  Dlg().m_strFtpRoot = "";  // "/TarvoPatch": absolute
  ASSERT_TRUE(Dlg().FetchAgentList());
  EXPECT_EQ(ReadWholeFile(GamePath("AgentIP.ini")), "at the top");
  EXPECT_FALSE(platform::FileExists(GamePath("_AgentIP.in_")));
  EXPECT_TRUE(StopCodes().empty());
}

TEST_F(TransferTest, NeitherATrickleNorAnEndlessStreamHoldsATransfer) {
  FtpServer::Options options;
  options.slowFiles = {"TarvoPatch/trickle.bin"};
  options.slowChunkBytes = 6;  // 60 bytes a second
  options.endlessFiles = {"TarvoPatch/endless.bin", "TarvoPatch/sized.bin"};
  options.announcedSizes = {"TarvoPatch/endless.bin=none"};
  FtpServer& server = StartServer(options);
  server.PutPatternFile("TarvoPatch/trickle.bin", 100000);
  server.PutFile("TarvoPatch/endless.bin", "");
  server.PutFile("TarvoPatch/sized.bin", "ten bytes.");

  std::unique_ptr<CFtpConnection> connection;
  ASSERT_EQ(ConnectToFolder(Dlg(), Dlg().m_ftpHosts, "TarvoPatch", connection), ConnectOutcome::kConnected);
  connection->SetStallLimit(1024, 1);
  const struct {
    const char* name;
    uint64_t maxBytes;
    uint64_t atMost;
  } cases[] = {
      {"trickle.bin", CFtpConnection::kNoLimit, 100000 - 1},
      {"endless.bin", 1 << 20, 1 << 20},  // no size told: the caller's bound
      {"sized.bin", CFtpConnection::kNoLimit, 10},  // past the announced size the attempt has failed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    uint64_t received = 0;
    EXPECT_FALSE(connection->ReadFile(
        c.name, [&](const char*, size_t count) { return (received += count) < (uint64_t{1} << 30); }, c.maxBytes));
    EXPECT_LE(received, c.atMost);
  }
}

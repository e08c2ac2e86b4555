// Broken downloads continue where they stopped: over a line that drops every transfer, from a
// server without REST, and when the bytes already held no longer fit the remote file.
#include <chrono>
#include <filesystem>
#include <map>

#include "session/StopCodes.h"
#include "transfer/FtpFetch.h"
#include "transfer_fixture.h"

using namespace transfer_test;

namespace {

constexpr int kDropAfter = 128 * 1024;
constexpr size_t kFileSize = 700000;

// Collects what a read hands over.
class CollectingSink : public FtpReadSink {
 public:
  void OnStart(uint64_t size, bool) override {
    ++starts;
    announced = size;
  }
  bool OnData(const char* data, size_t count) override {
    bytes.append(data, count);
    return true;
  }
  int starts = 0;
  uint64_t announced = 0;
  std::string bytes;
};

// Every change of the byte labels and bars: counts only grow, bars stay within 0 to 1000.
void ExpectProgressNeverGoesBack(const std::vector<ControlChange>& changes) {
  std::map<int, long> last;
  for (const ControlChange& change : changes) {
    if (change.id == IDC_STATUS) continue;
    long value = std::stol(change.value);
    EXPECT_GE(value, last[change.id]) << "control " << change.id;
    if (change.id == IDC_FILE_PROGRESS || change.id == IDC_TOTAL_PROGRESS) {
      EXPECT_LE(value, 1000);
    }
    last[change.id] = value;
  }
}

}  // namespace

TEST_F(TransferTest, ALineThatDropsEveryTransferStillDeliversTheLauncherPieceByPiece) {
  FtpServer::Options options;
  options.dropAfterBytes = kDropAfter;
  FtpServer& server = StartServer(options);
  const std::string content = server.PutPatternFile("TarvoPatch/Tarvo.exe", kFileSize);
  WriteWholeFile(GamePath("Tarvo.exe"), "old launcher");

  ASSERT_TRUE(Dlg().FetchLauncher());
  EXPECT_EQ(ReadWholeFile(GamePath("Tarvo.exe")), content);
  EXPECT_TRUE(StopCodes().empty());

  // Each attempt starts where the one before broke off, so no byte crosses the line twice.
  const int attempts = static_cast<int>((kFileSize + kDropAfter - 1) / kDropAfter);
  EXPECT_EQ(server.CountInLog("<- RETR Tarvo.exe"), attempts);
  std::vector<long long> expected;
  for (int i = 1; i < attempts; ++i) expected.push_back(static_cast<long long>(i) * kDropAfter);
  EXPECT_EQ(server.AcceptedRestOffsets(), expected);
  EXPECT_EQ(server.BytesSentOf("Tarvo.exe"), static_cast<long long>(kFileSize));
  EXPECT_EQ(server.LoginCount(), 1);

  ExpectProgressNeverGoesBack(Changes());
  EXPECT_EQ(Dlg().View().GetLabel(IDC_FILE_BYTES), "700000");
  EXPECT_EQ(Dlg().View().GetLabel(IDC_TOTAL_BYTES), "700000");
  EXPECT_EQ(Dlg().View().GetBarPos(IDC_TOTAL_PROGRESS), 1000);
}

TEST_F(TransferTest, AServerWithoutRestIsReadFromTheStartEachTime) {
  {  // Three drops, then a whole transfer: a fresh start each time, the bytes of none counted twice.
    FtpServer::Options options;
    options.noRest = true;
    options.dropAfterBytes = kDropAfter;
    options.dropTimes = 3;
    FtpServer& server = StartServer(options);
    const std::string content = server.PutPatternFile("TarvoPatch/TarvoPatchClient.exe", kFileSize);
    ASSERT_TRUE(Dlg().FetchPatchClient());
    EXPECT_EQ(ReadWholeFile(GamePath("Temp/TarvoPatchClient.exe")), content);
    EXPECT_EQ(server.CountInLog("<- RETR TarvoPatchClient.exe"), 4);
    EXPECT_TRUE(server.AcceptedRestOffsets().empty());
    EXPECT_EQ(server.BytesSentOf("TarvoPatchClient.exe"), 3LL * kDropAfter + static_cast<long long>(kFileSize));
    EXPECT_EQ(Dlg().View().GetLabel(IDC_TOTAL_BYTES), "700000");
    for (const ControlChange& change : Changes()) {
      if (change.id == IDC_TOTAL_PROGRESS || change.id == IDC_FILE_PROGRESS) {
        EXPECT_LE(std::stol(change.value), 1000);
      }
    }
    EXPECT_TRUE(StopCodes().empty());
  }
  {  // Dropped every time, such a file never arrives: the attempts run out, and nothing is left.
    FtpServer::Options options;
    options.noRest = true;
    options.dropAfterBytes = kDropAfter;
    FtpServer& server = StartServer(options);
    server.PutPatternFile("TarvoPatch/TarvoPatchClient.exe", kFileSize);
    std::filesystem::remove_all(GamePath("Temp"));
    EXPECT_FALSE(Dlg().FetchPatchClient());
    EXPECT_EQ(server.CountInLog("<- RETR TarvoPatchClient.exe"), 10);
    EXPECT_EQ(StopCodes(), std::vector<unsigned>{STOP_CLIENT_PATCH});
    EXPECT_FALSE(std::filesystem::exists(GamePath("Temp")));
  }
}

TEST_F(TransferTest, ReadingFromAnOffsetBringsTheRestOrIsRefused) {
  FtpServer& server = StartServer();
  const std::string content = server.PutPatternFile("TarvoPatch/x.bin", 10000);
  std::filesystem::last_write_time(server.Root() + "/TarvoPatch/x.bin",
                                   std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  std::unique_ptr<CFtpConnection> connection;
  ASSERT_EQ(ConnectToFolder(Dlg(), Dlg().m_ftpHosts, "TarvoPatch", connection), ConnectOutcome::kConnected);
  const struct {
    uint64_t startAt;
    FtpReadResult result;
    std::string bytes;
  } cases[] = {
      {0, FtpReadResult::kComplete, content},
      {4096, FtpReadResult::kComplete, content.substr(4096)},
      {10000, FtpReadResult::kComplete, ""},  // every byte held already: still a transfer, of none
      {10001, FtpReadResult::kResumeRefused, ""},  // more held than the file has
  };
  uint64_t size = 0;
  ASSERT_TRUE(connection->GetFileLength("x.bin", size));
  const int64_t modified = connection->LastModified();
  ASSERT_NE(modified, CFtpConnection::kUnknownTime);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.startAt);
    CollectingSink sink;
    EXPECT_EQ(connection->ReadFileFrom("x.bin", sink, c.startAt, CFtpConnection::kNoLimit, modified), c.result);
    EXPECT_EQ(sink.bytes, c.bytes);
    EXPECT_EQ(sink.starts, c.result == FtpReadResult::kResumeRefused ? 0 : 1);
    if (sink.starts) {
      EXPECT_EQ(sink.announced, 10000u);
    }
  }
  EXPECT_EQ(server.AcceptedRestOffsets(), (std::vector<long long>{4096, 10000}));
  {  // Held bytes of a file with another time are not continued.
    CollectingSink sink;
    EXPECT_EQ(connection->ReadFileFrom("x.bin", sink, 4096, CFtpConnection::kNoLimit, modified - 1),
              FtpReadResult::kResumeRefused);
    EXPECT_EQ(sink.starts, 0);
  }

  // A server without REST refuses the offset and hands nothing over; it is not asked again on
  // that connection (libcurl logs in anew after the refusal), and still serves whole files.
  FtpServer::Options options;
  options.noRest = true;
  FtpServer& plain = StartServer(options);
  plain.PutFile("TarvoPatch/x.bin", content);
  ASSERT_EQ(ConnectToFolder(Dlg(), Dlg().m_ftpHosts, "TarvoPatch", connection), ConnectOutcome::kConnected);
  for (int i = 0; i < 2; ++i) {
    CollectingSink refused;
    EXPECT_EQ(connection->ReadFileFrom("x.bin", refused, 4096, CFtpConnection::kNoLimit, connection->LastModified()),
              FtpReadResult::kResumeRefused);
    EXPECT_EQ(refused.starts, 0);
    CollectingSink whole;
    EXPECT_EQ(connection->ReadFileFrom("x.bin", whole, 0), FtpReadResult::kComplete);
    EXPECT_EQ(whole.bytes, content);
  }
  EXPECT_EQ(plain.CountInLog("<- REST 4096"), 1);
  EXPECT_EQ(plain.LoginCount(), 2);
}

// The remote file was replaced between two attempts, or the server cannot show it was not: the
// bytes held may belong to another file, and are never continued.
TEST_F(TransferTest, APartialFileThatNoLongerFitsTheRemoteFileStartsAfresh) {
  for (const bool serverTellsTimes : {true, false}) {
    FtpServer::Options options;
    options.dropAfterBytes = kDropAfter;
    options.dropTimes = 1;
    options.noMdtm = !serverTellsTimes;
    FtpServer& server = StartServer(options);
    std::unique_ptr<CFtpConnection> connection;
    ASSERT_EQ(ConnectToFolder(Dlg(), Dlg().m_ftpHosts, "TarvoPatch", connection), ConnectOutcome::kConnected);
    // Shorter than the part held, longer than the file the part came from, and of the same size
    // (an operator's rebuild of a program often keeps its size); without times, the file unchanged.
    const std::vector<size_t> newSizes = serverTellsTimes ? std::vector<size_t>{100000, 800000, kFileSize}
                                                          : std::vector<size_t>{0};
    for (const size_t newSize : newSizes) {
      SCOPED_TRACE(std::to_string(newSize) + (serverTellsTimes ? "" : " without MDTM"));
      const std::string name = "file" + std::to_string(newSize) + ".bin";
      const std::string path = server.Root() + "/TarvoPatch/" + name;
      const std::string old = server.PutPatternFile("TarvoPatch/" + name, kFileSize);
      std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
      Dlg().m_nTotalBytes = 0;
      Dlg().m_nDoneBytes = 0;
      PartialDownload partial;
      EXPECT_FALSE(Dlg().DownloadFile(connection.get(), name.c_str(), "part.bi_", UINT64_MAX, nullptr, &partial));
      EXPECT_EQ(partial.size, kFileSize);
      EXPECT_EQ(std::filesystem::file_size(GamePath("part.bi_")), static_cast<uintmax_t>(kDropAfter));
      EXPECT_EQ(Dlg().m_nDoneBytes, static_cast<uint32_t>(kDropAfter));

      std::string replaced = old;
      if (newSize > 0) {
        replaced = newSize == kFileSize ? std::string(kFileSize, 'n') : server.PutPatternFile("TarvoPatch/" + name, newSize);
        server.PutFile("TarvoPatch/" + name, replaced);
      }
      const size_t restsBefore = server.AcceptedRestOffsets().size();
      ASSERT_TRUE(Dlg().DownloadFile(connection.get(), name.c_str(), "part.bi_", UINT64_MAX, nullptr, &partial));
      EXPECT_EQ(ReadWholeFile(GamePath("part.bi_")), replaced);
      EXPECT_EQ(server.AcceptedRestOffsets().size(), restsBefore);  // nothing continued
      EXPECT_EQ(Dlg().m_nDoneBytes, static_cast<uint32_t>(replaced.size()));  // the thrown-away part no longer counts
    }
  }
  FtpServer& server = StartServer();
  std::unique_ptr<CFtpConnection> connection;
  ASSERT_EQ(ConnectToFolder(Dlg(), Dlg().m_ftpHosts, "TarvoPatch", connection), ConnectOutcome::kConnected);

  // A link put in the partial file's place is never written through: the file starts afresh.
  const std::string outside = m_folder.Path() + "/outside.bin";
  WriteWholeFile(outside, std::string(1000, 'x'));
  std::filesystem::remove(GamePath("part.bi_"));
  std::filesystem::create_symlink(outside, GamePath("part.bi_"));
  server.PutFile("TarvoPatch/small.bin", "small");
  Dlg().m_nDoneBytes = 1000;
  PartialDownload partial{2000, 0};
  ASSERT_TRUE(Dlg().DownloadFile(connection.get(), "small.bin", "part.bi_", UINT64_MAX, nullptr, &partial));
  EXPECT_EQ(ReadWholeFile(outside), std::string(1000, 'x'));
  EXPECT_FALSE(std::filesystem::is_symlink(GamePath("part.bi_")));
  EXPECT_EQ(ReadWholeFile(GamePath("part.bi_")), "small");
}

// A server that says 350 to REST and then sends from byte 0: the bytes that follow are more than the
// offset leaves, so the restart was not honoured and the file starts afresh; over a line that drops
// every transfer such a file never arrives whole, and nothing of it is ever put in place.
TEST_F(TransferTest, AServerThatIgnoresRestNeverGetsPiecesSplicedIn) {
  {
    FtpServer::Options options;
    options.ignoreRest = true;
    options.dropAfterBytes = kDropAfter;
    options.dropTimes = 1;
    FtpServer& server = StartServer(options);
    const std::string content = server.PutPatternFile("TarvoPatch/Tarvo.exe", kFileSize);
    WriteWholeFile(GamePath("Tarvo.exe"), "old launcher");
    ASSERT_TRUE(Dlg().FetchLauncher());
    EXPECT_EQ(ReadWholeFile(GamePath("Tarvo.exe")), content);
    EXPECT_EQ(server.CountInLog("<- REST 131072"), 1);  // found out once, then never asked again
    EXPECT_EQ(server.CountInLog("<- RETR Tarvo.exe"), 3);
    EXPECT_TRUE(StopCodes().empty());
  }
  {
    FtpServer::Options options;
    options.ignoreRest = true;
    options.dropAfterBytes = kDropAfter;
    FtpServer& server = StartServer(options);
    // A whole number of pieces: the pieces of its start held would once have filled it exactly.
    server.PutPatternFile("TarvoPatch/Tarvo.exe", 5 * kDropAfter);
    WriteWholeFile(GamePath("Tarvo.exe"), "old launcher");
    EXPECT_FALSE(Dlg().FetchLauncher());
    EXPECT_EQ(ReadWholeFile(GamePath("Tarvo.exe")), "old launcher");
    EXPECT_GE(server.CountInLog("<- RETR Tarvo.exe"), 10);  // every attempt a transfer
    EXPECT_EQ(StopCodes().size(), 1u);
  }
}

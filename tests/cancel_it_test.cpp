// Cancel (here SIGTERM, which the console takes as Cancel) ends the client binary in every state,
// including those where the window's thread is blocked: connecting to a server that never answers,
// fetching the patch list from an FTP server that never answers, and sending to a patch server that
// never reads. A test checks only that the client has ended by a deadline that the blocked states
// used to overrun many times over.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "e2e_support.h"
#include "support/ClientProcess.h"
#include "support/FtpServer.h"
#include "support/PatchServer.h"

namespace {

constexpr int kWaitMs = 30000;
// Far beyond what a Cancel may take, and far below what the blocked states took before (a connect
// time-out of 5 s, the list's four connection attempts, a send that never returned).
constexpr int kEndedByMs = 3000;
using e2e::kDataPatchDue;
// Server frames from the patch server, sent again and again without reading what the client answers.
const char* const kVersionsForEver =
    R"("frames": [], "keep_sending": {"frame": "versions", "every_ms": 1, "burst": 32}, "rcvbuf": 4096)";

class CancelTest : public ::testing::Test {
 protected:
  void StartClient(ClientProcess& client, int patchPort, int ftpPort = 0) {
    ASSERT_TRUE(client.Start({"1", "127.0.0.1", std::to_string(patchPort)},
                             {{"TARVO_REGISTRY", m_registry},
                              {"TARVO_FTP_PORT", std::to_string(ftpPort)},
                              {"TARVO_UI", "console"}}));
  }
  void MakeWorld() { ASSERT_TRUE(e2e::MakeWorld(m_world, kDataPatchDue, "1.0,1.0,1.0,1.0")); }
  // Presses Cancel and expects the client gone, with the normal end's exit code, by the deadline.
  static void CancelAndExpectEnd(ClientProcess& client) {
    client.Signal(SIGTERM);
    EXPECT_EQ(client.Wait(kEndedByMs), 0) << client.Stdout() << client.Stderr();
    EXPECT_EQ(client.Stderr(), "");  // a cancelled run reports no failure of the work it cut short
  }

  TempDir m_dir;
  std::string m_world = m_dir / "world";
  std::string m_registry = m_world + "/registry.reg";
};

}  // namespace

TEST_F(CancelTest, WhileConnectingToAPatchServerThatNeverAnswers) {
  MakeWorld();
  PatchServer silent(R"("accept": false)");
  ClientProcess client;
  StartClient(client, silent.Port());
  // The connect waits for an answer that never comes; give the client time to be inside it.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  ASSERT_TRUE(client.Running());
  CancelAndExpectEnd(client);
}

TEST_F(CancelTest, WhileThePatchListIsFetchedFromAnFtpServerThatNeverAnswers) {
  MakeWorld();
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  PatchServer silentFtp(R"("frames": [])");  // takes the connection and never says a word
  ClientProcess client;
  StartClient(client, server.Port(), silentFtp.Port());
  ASSERT_TRUE(silentFtp.WaitForLog("connect", kWaitMs)) << client.Stderr();
  CancelAndExpectEnd(client);
}

TEST_F(CancelTest, DuringATransfer) {
  MakeWorld();
  PatchServer server(e2e::PatchConfig(kDataPatchDue));
  FtpServer::Options slow;
  slow.root = m_world + "/ftp";
  slow.slowFiles = {"tarvo/TarvoPatch/Texture/T_120.zip"};
  FtpServer ftp(slow);
  ClientProcess client;
  StartClient(client, server.Port(), ftp.Port());
  ASSERT_TRUE(client.WaitForStdout("T_120.zip", kWaitMs)) << client.Stdout() << client.Stderr();
  CancelAndExpectEnd(client);
}

TEST_F(CancelTest, WhileASendToAPatchServerThatNeverReadsBlocks) {
  MakeWorld();
  PatchServer server(kVersionsForEver);
  ClientProcess client;
  StartClient(client, server.Port());
  ASSERT_TRUE(server.WaitForLog("connect", kWaitMs));
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));  // the buffers fill, the send blocks
  CancelAndExpectEnd(client);
}

TEST_F(CancelTest, ASendThatCannotCompleteEndsTheConnectionAsClosed) {
  MakeWorld();
  PatchServer server(kVersionsForEver);
  ClientProcess client;
  StartClient(client, server.Port());
  // The send blocks only after the client has answered thousands of frames, which takes far
  // longer on a loaded machine; the deadline is for a client that never ends.
  EXPECT_EQ(client.Wait(3 * kWaitMs), 0);
  EXPECT_EQ(client.Stderr(), "Disconnected from server.\n");
}

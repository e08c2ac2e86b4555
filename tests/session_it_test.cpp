// The client binary against the scripted patch server: what it answers, how it handles lost and
// refused connections, and how it starts and ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>

#include "support/ClientProcess.h"
#include "support/PatchServer.h"

namespace {

constexpr int kWaitMs = 20000;

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTextFile(m_registry, RegistryText(m_dir.Path()));
    mkdir((m_dir / "Music").c_str(), 0755);  // an installation always has its music folder
  }
  // Starts the client against `server` and the test's registry.
  void StartClient(ClientProcess& client, int port, const std::string& count = "1") {
    ASSERT_TRUE(client.Start({count, "127.0.0.1", std::to_string(port)}, Env()));
  }
  std::map<std::string, std::string> Env() const { return {{"TARVO_REGISTRY", m_registry}}; }
  // Ends a client that waits on Start by closing its input (Cancel) and checks it ends cleanly.
  static void CancelAndExpectCleanEnd(ClientProcess& client) {
    client.CloseStdin();
    EXPECT_EQ(client.Wait(kWaitMs), 0);
  }

  TempDir m_dir;
  std::string m_registry = m_dir / "registry.reg";
};

const char* const kFullSession =
    R"("versions": ["", "", "", ""], "entries": ["1:127.0.0.1", "2:127.0.0.1"], "game_servers": [["127.0.0.1", 9000]])";

}  // namespace

TEST_F(SessionTest, AnswersEachFrameThatPassesItsTestAndWaitsOnStart) {
  PatchServer server(kFullSession);
  ClientProcess client;
  StartClient(client, server.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready", kWaitMs)) << client.Stderr();
  EXPECT_TRUE(client.Running());
  CancelAndExpectCleanEnd(client);
  EXPECT_EQ(client.Stderr(), "");
  ASSERT_TRUE(server.WaitForLog("close", kWaitMs));
  EXPECT_EQ(server.ReceivedTypes(), "0 4 9 2");
}

TEST_F(SessionTest, FramesThatFailTheirTestsAreNotAnswered) {
  struct Case {
    const char* config;
    const char* expected;
  } cases[] = {
      {R"("status1": 1, "game_servers": [["h", 1]], "entries": ["1:a"])", "0 9 2"},
      {R"("stop3": 1, "entries": ["1:a"], "game_servers": [["h", 1]])", "0 4 2"},
      {R"("entries": [], "game_servers": [["h", 1]])", "0 4 2"},                    // count 0
      {R"("entries": [], "count3": -1, "game_servers": [["h", 1]])", "0 4 9 2"},    // count -1 still answers
      {R"("entries": ["1:a"], "flags": [1, 1, 1, 1, 1, 1, 1, 0])", "0 4 9"},
      {R"("entries": ["1:a"], "status5": 3)", "0 4 9"},
  };
  for (const Case& c : cases) {
    PatchServer server(c.config);
    ClientProcess client;
    StartClient(client, server.Port());
    ASSERT_TRUE(client.WaitForStdout("Ready", kWaitMs)) << c.config << client.Stderr();
    CancelAndExpectCleanEnd(client);
    // The server has read everything the client sent once it has seen the client close.
    ASSERT_TRUE(server.WaitForLog("close", kWaitMs));
    EXPECT_EQ(server.ReceivedTypes(), c.expected) << c.config;
  }
}

TEST_F(SessionTest, MalformedFramesNeverCrashTheClient) {
  // A count far beyond the frame, a string without its zero, and a frame whose length field lies.
  PatchServer server(
      R"("frames": [{"raw": "0c0001000000000000000000"}, {"raw": "0b00030000000000616263"},
                    {"raw": "0c000a0000000000ffffff7f"}, {"raw": "04000700"}])");
  ClientProcess client;
  StartClient(client, server.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready", kWaitMs)) << client.Stderr();
  CancelAndExpectCleanEnd(client);
}

TEST_F(SessionTest, RefusedTwiceEndsWithTheConnectMessage) {
  ClientProcess client;
  StartClient(client, UnusedPort());
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_EQ(client.Stderr(), "Failed on connecting to server.\n");
}

TEST_F(SessionTest, LossBeforeAnyAnswerCostsOneSilentRetry) {
  PatchServer server(R"("close_after": 0)");
  ClientProcess client;
  StartClient(client, server.Port());
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_EQ(client.Stderr(), "Disconnected from server.\n");
  EXPECT_EQ(server.Connections(), 2);  // exactly two attempts, both to the one server
}

TEST_F(SessionTest, LossAfterEachFrameBeforeTheGameServersEndsTheRun) {
  // After the versions (type 1), the download places (type 3) and the game settings (type 5).
  for (int sent = 1; sent <= 3; ++sent) {
    PatchServer server(std::string(kFullSession) + R"(, "close_after": )" + std::to_string(sent));
    ClientProcess client;
    StartClient(client, server.Port());
    EXPECT_EQ(client.Wait(kWaitMs), 0) << sent;
    EXPECT_EQ(client.Stderr(), "Disconnected from server.\n") << sent;
    EXPECT_EQ(server.Connections(), 1) << sent;
  }
}

TEST_F(SessionTest, TruncatedGarbledAndOversizedFramesEndTheConnectionWithoutHarm) {
  // Bytes that no server would send, the same on every run.
  std::string garbage;
  uint32_t state = 20261208;
  for (int i = 0; i < 600; ++i) {
    state = state * 1664525u + 1013904223u;
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", state >> 24);
    garbage += hex;
  }
  // Each list of frames is followed by the close.
  const struct {
    const char* what;
    std::string frames;
    int count;
  } cases[] = {
      {"a frame cut short", R"("versions", {"raw": "2000030000000000"})", 2},
      {"a header cut short", R"("versions", "places", {"raw": "10"})", 3},
      {"garbage", R"("versions", {"raw": ")" + garbage + R"("})", 2},
      {"a full-size frame of nothing but string bytes", R"("versions", {"raw": "00100100)" + std::string(2 * 4092, '6') + R"("})", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PatchServer server(std::string(kFullSession) + R"(, "frames": [)" + c.frames + R"(], "close_after": )" +
                       std::to_string(c.count));
    ClientProcess client;
    StartClient(client, server.Port());
    EXPECT_EQ(client.Wait(kWaitMs), 0);
    EXPECT_EQ(client.Stderr(), "Disconnected from server.\n");
  }
}

TEST_F(SessionTest, FrameLengthOutsideItsLimitsEndsTheConnection) {
  for (const char* bad : {"02000100", "01100100", "ffff0100"}) {  // lengths 2, 4097 and 65535
    PatchServer server(std::string(R"("frames": ["versions", {"raw": ")") + bad + R"("}, "places"])");
    ClientProcess client;
    StartClient(client, server.Port());
    EXPECT_EQ(client.Wait(kWaitMs), 0);
    EXPECT_EQ(client.Stderr(), "Disconnected from server.\n") << bad;
  }
}

TEST_F(SessionTest, LossAfterTheGameServersShowsNothing) {
  PatchServer server(std::string(kFullSession) + R"(, "close_after": 4)");
  ClientProcess client;
  StartClient(client, server.Port());
  ASSERT_TRUE(client.WaitForStdout("Ready", kWaitMs));
  ASSERT_TRUE(server.WaitForLog("close", kWaitMs));
  CancelAndExpectCleanEnd(client);
  EXPECT_EQ(client.Stderr(), "");
}

TEST_F(SessionTest, NoInstallationInTheRegistryStopsWithCodeNine) {
  WriteTextFile(m_registry, "REGEDIT4\n");
  PatchServer server(kFullSession);
  ClientProcess client;
  StartClient(client, server.Port());
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_NE(client.Stderr().find("无法找到安装情报,因此中断执行."), std::string::npos) << client.Stderr();
}

TEST_F(SessionTest, UnusableCommandLinesEndWithCannotExecute) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {}, {"0", "alpha", "1000"}, {"x", "alpha", "1000"}, {"-2", "a", "1"}, {"3", "a", "1"}}) {
    ClientProcess client;
    ASSERT_TRUE(client.Start(args, Env()));
    EXPECT_EQ(client.Wait(kWaitMs), 0);
    EXPECT_EQ(client.Stderr(), "Cannot execute\n") << (args.empty() ? "" : args[0]);
  }
}

// A second copy refuses while the first runs: one of the same user's, however its variables are
// set, and one that stands for another user's (its own per-user lock) on the same installation.
TEST_F(SessionTest, SecondCopyRefusesWhileTheFirstRuns) {
  PatchServer server(kFullSession);
  ClientProcess first;
  StartClient(first, server.Port());
  ASSERT_TRUE(first.WaitForStdout("Ready", kWaitMs));
  TempDir otherUser;
  chmod(otherUser.Path().c_str(), 0700);
  for (bool sameUser : {true, false}) {
    SCOPED_TRACE(sameUser ? "same user" : "another user");
    ClientProcess second;
    second.Unset("XDG_RUNTIME_DIR");
    if (!sameUser) second.UseLockFolder(otherUser.Path());
    auto env = Env();
    env["TMPDIR"] = otherUser.Path();
    ASSERT_TRUE(second.Start({"1", "127.0.0.1", std::to_string(server.Port())}, env));
    EXPECT_EQ(second.Wait(kWaitMs), 0);
    EXPECT_EQ(second.Stderr(), "Tarvo is already running!\n");
    EXPECT_EQ(second.Stdout().find("Ready"), std::string::npos);
  }
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(first.Stderr(), "");
  CancelAndExpectCleanEnd(first);
}

TEST_F(SessionTest, TerminationSignalPressesCancel) {
  PatchServer server(kFullSession);
  for (int sig : {SIGTERM, SIGINT}) {
    ClientProcess client;
    StartClient(client, server.Port());
    ASSERT_TRUE(client.WaitForStdout("Ready", kWaitMs));
    client.Signal(sig);
    EXPECT_EQ(client.Wait(kWaitMs), 0) << sig;
  }
}

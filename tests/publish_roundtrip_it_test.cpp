// The operators' road end to end: two levels published from generated game trees with the real
// tarvo-publish, checked, served by the project's patch server and a real FTP server, and the real
// client patches an old installation to byte-identical new files, one level per run.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "publish_test_support.h"
#include "support/ClientProcess.h"
#include "support/FtpServer.h"
#include "support/PatchServer.h"

namespace {

using namespace publish_test;

// Runs tarvo-publish with `args`; returns its exit code, its output in `out`.
int Publish(const std::vector<std::string>& args, std::string& out) {
  ClientProcess tool;
  if (!tool.Start(args, {}, TARVO_PUBLISH_BINARY)) return -1;
  int code = tool.Wait(e2e::kWaitMs);
  out = tool.Stdout() + tool.Stderr();
  return code;
}

// Files of `tree` that differ from `game` or are missing there.
std::vector<std::string> Differences(const fs::path& tree, const fs::path& game) {
  std::vector<std::string> differences;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(tree)) {
    if (!entry.is_regular_file()) continue;
    const fs::path relative = entry.path().lexically_relative(tree);
    if (!fs::exists(game / relative) || ReadText(entry.path()) != ReadText(game / relative)) {
      differences.push_back(relative.string());
    }
  }
  return differences;
}

class RoundTripTest : public PublishedWorld {
 protected:
  // One run of the client until Start unlocks; Start is then left alone and the run cancelled.
  void RunClient(int patchPort, int ftpPort) {
    ClientProcess client;
    ASSERT_TRUE(client.Start({"1", "127.0.0.1", std::to_string(patchPort)},
                             {{"TARVO_REGISTRY", m_registry},
                              {"TARVO_FTP_PORT", std::to_string(ftpPort)},
                              {"TARVO_UI", "console"}}));
    ASSERT_TRUE(client.WaitForStdout("Ready.", e2e::kWaitMs)) << client.Stdout() << client.Stderr();
    client.CloseStdin();
    EXPECT_EQ(client.Wait(e2e::kWaitMs), 0);
    EXPECT_EQ(client.Stderr(), "");
  }

  std::string m_registry = m_dir / "registry.reg";
};

TEST_F(RoundTripTest, TwoPublishedLevelsTakeAnOldInstallationToTheNewFiles) {
  // The tool on its own, as an operator runs it, over a fresh FTP root.
  const std::string root = m_dir / "served/tarvo";
  std::string out;
  ASSERT_EQ(Publish({"data", "--root", root, "--from", "1.0", "--to", "1.1", "--old", Tree10(), "--new", Tree11()},
                    out), 0) << out;
  EXPECT_NE(out.find("Data/old.dat"), std::string::npos) << out;  // left behind, and said so
  ASSERT_EQ(Publish({"data", "--root", root, "--from", "1.1", "--to", "1.2.0", "--old", Tree11(), "--new", Tree12(),
                     "--max-archive", "1"},
                    out), 0) << out;
  ASSERT_EQ(Publish({"check", "--root", root, "--versions", ",,1.2,"}, out), 0) << out;
  EXPECT_NE(out.find("0 errors, 0 warnings"), std::string::npos) << out;
  ASSERT_EQ(Publish({"server-config", "--versions", ",,1.2,", "--ftp-root", "/tarvo", "--ftp-hosts", "127.0.0.1",
                     "--game-arg", "demo"},
                    out), 0) << out;
  const std::string config = out.substr(out.find('{') + 1, out.rfind('}') - out.find('{') - 1);

  const fs::path game = m_dir / "game";
  fs::copy(Tree10(), game, fs::copy_options::recursive);
  WriteText(m_registry, RegistryText(game.string(), "\"Version1\"=dword:3f800000\r\n\"Version2\"=dword:3f800000\r\n"
                                                    "\"Version3\"=dword:3f800000\r\n\"Version4\"=dword:3f800000\r\n"));
  FtpServer::Options options;
  options.root = m_dir / "served";
  FtpServer ftp(options);
  PatchServer server(config);

  RunClient(server.Port(), ftp.Port());
  EXPECT_EQ(Differences(Tree11(), game), std::vector<std::string>{});
  EXPECT_FLOAT_EQ(e2e::RegistryVersion(m_registry, 3), 1.1f);

  RunClient(server.Port(), ftp.Port());
  EXPECT_EQ(Differences(Tree12(), game), std::vector<std::string>{});
  EXPECT_EQ(ReadText(game / "Data/old.dat"), "dropped in 1.1");
  EXPECT_FALSE(fs::exists(game / "Patch_110_120_01.zip"));
  EXPECT_FLOAT_EQ(e2e::RegistryVersion(m_registry, 3), 1.2f);

  // Current now: a third run fetches no list.
  const int listsFetched = ftp.CountInLog("RETR FileList_");
  RunClient(server.Port(), ftp.Port());
  EXPECT_EQ(ftp.CountInLog("RETR FileList_"), listsFetched);
}

TEST(PublishCommandLineTest, MistakesExitWithTwoAndSayWhat) {
  std::string out;
  EXPECT_EQ(Publish({"data", "--root", "ftp", "--from", "1.0"}, out), 2);
  EXPECT_NE(out.find("data needs --new"), std::string::npos) << out;
  EXPECT_EQ(Publish({"check", "--root", "ftp", "--versions", "1.0,1.1"}, out), 2);
  EXPECT_NE(out.find("--versions takes four texts"), std::string::npos) << out;
  EXPECT_EQ(Publish({"launcher", "a", "b", "--root", "ftp"}, out), 2);
  EXPECT_EQ(Publish({"check", "--root", "ftp", "--colour", "x"}, out), 2);
  EXPECT_NE(out.find("unknown option --colour"), std::string::npos) << out;
  EXPECT_EQ(Publish({"publish"}, out), 2);
  EXPECT_NE(out.find("usage:"), std::string::npos) << out;
}

}  // namespace

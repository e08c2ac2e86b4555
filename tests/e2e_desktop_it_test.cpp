// Whole runs of the client binary on an X display of the test's own, with other programs' windows
// made by the test: browser frames showing the game's site are minimised at start-up and nothing
// else is, and the music downloader's window is asked to close when, and only when, a data patch
// begins. The test stands in for the window manager and the downloader.
#include <gtest/gtest.h>

#include <algorithm>

#include "e2e_support.h"
#include "support/FtpServer.h"
#include "support/PatchServer.h"
#include "support/TestDesktop.h"

namespace {

using Window = TestDesktop::Window;
using e2e::kWaitMs;

const char* const kGameSite = "신나는 Tarvo - Windows Internet Explorer";
const char* const kMusicTool = "Tarvo - Download Music";
const char* const kCurrent = "1.0,1.0,1.0,1.0";
using e2e::kDataPatchDue;

class DesktopRunTest : public DesktopFixture {
 protected:
  void SetUp() override {
    DesktopFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    m_desktop->ActAsWindowManager();
  }
  // Runs the client on a world with the given server versions until Start unlocks.
  void RunUntilReady(const std::string& serverVersions) {
    ASSERT_TRUE(e2e::MakeWorld(m_world, serverVersions, kCurrent));
    FtpServer::Options options;
    options.root = m_world + "/ftp";
    FtpServer ftp(options);
    PatchServer server(e2e::PatchConfig(serverVersions));
    ASSERT_TRUE(e2e::StartClient(m_client, m_world + "/registry.reg", server.Port(), ftp.Port(),
                                 {{"DISPLAY", m_server->Name()}}));
    ASSERT_TRUE(m_client.WaitForStdout("Ready.", kWaitMs)) << m_client.Stdout() << m_client.Stderr();
    m_client.CloseStdin();
    EXPECT_EQ(m_client.Wait(kWaitMs), 0);
    EXPECT_EQ(m_client.Stderr(), "");
  }
  std::vector<TestDesktop::Message> Commands() {
    std::vector<TestDesktop::Message> commands;
    for (const TestDesktop::Message& message : m_desktop->Messages()) {
      if (message.type == "_TARVO_WM_COMMAND") commands.push_back(message);
    }
    return commands;
  }

  TempDir m_dir;
  std::string m_world = m_dir / "world";
  ClientProcess m_client;
};

TEST_F(DesktopRunTest, StartUpMinimisesOnlyBrowserFramesShowingTheGameSite) {
  Window browser = m_desktop->MakeWindow("iexplore", "IEFrame", kGameSite);
  Window managedBrowser = m_desktop->MakeFramedWindow("iexplore.exe", "IEFrame", kGameSite);
  m_desktop->MakeWindow("firefox", "Firefox", kGameSite);
  m_desktop->MakeWindow("iexplore", "IEFrame", "Tarvo - Windows Internet Explorer");
  m_desktop->MakeWindow("DownloadMusic", "DownloadMusic", kMusicTool);

  RunUntilReady(kCurrent);

  std::vector<Window> minimised = m_desktop->IconifyRequests();
  std::sort(minimised.begin(), minimised.end());
  std::vector<Window> expected = {browser, managedBrowser};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(minimised, expected);
  EXPECT_TRUE(Commands().empty());  // everything was current: the downloader may keep running
}

TEST_F(DesktopRunTest, ADataPatchAsksTheLastMusicDownloaderMetToClose) {
  // The scan meets the topmost window first, so the one made first is met last and kept.
  Window kept = m_desktop->MakeWindow("DownloadMusic", "DownloadMusic", kMusicTool);
  m_desktop->MakeFramedWindow("DownloadMusic", "DownloadMusic", kMusicTool);
  m_desktop->MakeWindow("iexplore", "IEFrame", kMusicTool);  // a browser frame is never the downloader

  RunUntilReady(kDataPatchDue);

  EXPECT_FLOAT_EQ(e2e::RegistryVersion(m_world + "/registry.reg", 3), 1.23f);
  std::vector<TestDesktop::Message> commands = Commands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].window, kept);
  EXPECT_EQ(commands[0].format, 32);
  EXPECT_EQ(commands[0].data[0], 32769);
  EXPECT_EQ(commands[0].data[1], 0);
  EXPECT_TRUE(m_desktop->IconifyRequests().empty());
}

}  // namespace

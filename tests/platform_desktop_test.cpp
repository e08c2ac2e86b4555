// The desktop layer against a real X server of the test's own (Xvfb): which windows the scan sees
// and how it reads them, the minimise request, the command to the music downloader, windows that
// vanish under the scan, and no display at all. Also the rule that picks the windows to act on.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "app/DesktopScan.h"
#include "platform/desktop_windows.h"
#include "support/TestDesktop.h"

namespace {

using platform::DesktopWindowInfo;

const char* const kGameSite = "신나는 Tarvo 세상";
const char* const kMusicTool = "Tarvo - Download Music";

// The desktop layer opens the display that DISPLAY names, here the test's own.
class DesktopTest : public DesktopFixture {
 protected:
  void SetUp() override {
    DesktopFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    m_variable = std::make_unique<ScopedDisplayVariable>(m_server->Name().c_str());
  }
  static const DesktopWindowInfo* Find(const std::vector<DesktopWindowInfo>& list, TestDesktop::Window window) {
    auto it = std::find_if(list.begin(), list.end(), [&](const DesktopWindowInfo& w) { return w.window == window; });
    return it == list.end() ? nullptr : &*it;
  }

  std::unique_ptr<ScopedDisplayVariable> m_variable;
};

TEST_F(DesktopTest, ListsTopLevelWindowsTopmostFirstWithTheirClassAndUtf8Title) {
  using TitleAs = TestDesktop::TitleAs;
  auto bottom = m_desktop->MakeWindow("iexplore", "IEFrame", kGameSite);
  auto latin1 = m_desktop->MakeWindow("xterm", "XTerm", "café", TitleAs::kLatin1WmName);
  auto compound = m_desktop->MakeWindow("old", "Old", "신나는 옛날", TitleAs::kCompoundWmName);
  auto both = m_desktop->MakeWindow("both", "Both", "legacy", TitleAs::kLatin1WmName);
  m_desktop->SetTitle(both, "신나는 new", TitleAs::kNetWmName);
  auto untitled = m_desktop->MakeWindow("", "", "");
  auto framed = m_desktop->MakeFramedWindow("DownloadMusic", "Wine", kMusicTool);

  std::vector<DesktopWindowInfo> list = platform::ListDesktopWindows();
  ASSERT_EQ(list.size(), 6u);  // one per child of the root: the frame stands for its window
  EXPECT_EQ(list.front().window, framed);  // made last, so on top
  EXPECT_EQ(list.back().window, bottom);

  const DesktopWindowInfo* info = Find(list, bottom);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->instanceName, "iexplore");
  EXPECT_EQ(info->className, "IEFrame");
  EXPECT_EQ(info->title, kGameSite);
  ASSERT_TRUE((info = Find(list, latin1)));
  EXPECT_EQ(info->title, "café");  // Latin-1 STRING read as UTF-8
  ASSERT_TRUE((info = Find(list, compound)));
  EXPECT_EQ(info->title, "신나는 옛날");
  ASSERT_TRUE((info = Find(list, both)));
  EXPECT_EQ(info->title, "신나는 new");  // the desktop's name wins over the classic one
  ASSERT_TRUE((info = Find(list, untitled)));
  EXPECT_EQ(info->title, "");
  EXPECT_EQ(info->className, "");
  // Under a reparenting window manager the program's window inside the frame is listed, not the frame.
  EXPECT_EQ(Find(list, m_desktop->FrameOf(framed)), nullptr);
  ASSERT_TRUE((info = Find(list, framed)));
  EXPECT_EQ(info->instanceName, "DownloadMusic");
  EXPECT_EQ(info->title, kMusicTool);
}

TEST_F(DesktopTest, MinimiseAsksTheWindowManagerForTheIconicStateAndFailsForAVanishedWindow) {
  m_desktop->ActAsWindowManager();
  auto browser = m_desktop->MakeFramedWindow("iexplore", "IEFrame", kGameSite);
  auto gone = m_desktop->MakeWindow("iexplore", "IEFrame", kGameSite);
  m_desktop->Destroy(gone);
  m_desktop->Messages();  // the destruction has reached the server

  EXPECT_TRUE(platform::MinimiseDesktopWindow(browser));
  EXPECT_FALSE(platform::MinimiseDesktopWindow(gone));
  EXPECT_FALSE(platform::MinimiseDesktopWindow(0));
  EXPECT_EQ(m_desktop->IconifyRequests(), std::vector<TestDesktop::Window>{browser});
}

TEST_F(DesktopTest, CommandReachesTheWindowsProgramWithItsAtomAndDataAndFailsForAVanishedWindow) {
  auto tool = m_desktop->MakeWindow("DownloadMusic", "DownloadMusic", kMusicTool);
  auto gone = m_desktop->MakeWindow("DownloadMusic", "DownloadMusic", kMusicTool);
  m_desktop->Destroy(gone);
  m_desktop->Messages();

  EXPECT_TRUE(platform::PostDesktopCommand(tool, 32769, 0));
  EXPECT_TRUE(platform::PostDesktopCommand(tool, 7, -2));
  EXPECT_FALSE(platform::PostDesktopCommand(gone, 32769, 0));

  std::vector<TestDesktop::Message> messages = m_desktop->Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].window, tool);
  EXPECT_EQ(messages[0].type, "_TARVO_WM_COMMAND");
  EXPECT_EQ(messages[0].format, 32);
  EXPECT_EQ(messages[0].data[0], 32769);
  EXPECT_EQ(messages[0].data[1], 0);
  EXPECT_EQ(messages[1].data[0], 7);
  EXPECT_EQ(messages[1].data[1], -2);
}

// Other programs open and close windows all the time; a window may go between the moment the scan
// lists it and the moment it reads its names. That must never end the client.
TEST_F(DesktopTest, WindowsVanishingUnderTheScanNeverEndTheProcess) {
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    TestDesktop other(m_server->Name());
    while (!stop) {
      std::vector<TestDesktop::Window> made;
      for (int i = 0; i < 20; ++i) made.push_back(other.MakeWindow("iexplore", "IEFrame", kGameSite));
      made.push_back(other.FrameOf(other.MakeFramedWindow("DownloadMusic", "Wine", kMusicTool)));
      for (auto window : made) other.Destroy(window);
    }
  });
  size_t seen = 0;
  for (int i = 0; i < 200; ++i) {
    for (const DesktopWindowInfo& window : platform::ListDesktopWindows()) {
      ++seen;
      platform::MinimiseDesktopWindow(window.window);
      platform::PostDesktopCommand(window.window, 32769, 0);
    }
  }
  stop = true;
  churn.join();
  EXPECT_GT(seen, 0u);
  // The process-wide handlers still serve connections that are not the desktop layer's.
  EXPECT_TRUE(platform::PostDesktopCommand(m_desktop->MakeWindow("a", "b", "c"), 1, 0));
}

TEST(DesktopWithoutDisplay, NothingIsFoundAndNothingIsSent) {
  for (const char* display : {static_cast<const char*>(nullptr), "", ":4093", "not a display"}) {
    ScopedDisplayVariable variable(display);
    EXPECT_TRUE(platform::ListDesktopWindows().empty()) << (display ? display : "unset");
    EXPECT_FALSE(platform::MinimiseDesktopWindow(0x200001));
    EXPECT_FALSE(platform::PostDesktopCommand(0x200001, 32769, 0));
  }
}

TEST(DesktopScanRule, BrowserFramesShowingTheGameSiteAndTheMusicDownloader) {
  auto role = [](const char* instance, const char* className, const char* title) {
    return RoleOfDesktopWindow(DesktopWindowInfo{1, instance, className, title});
  };
  EXPECT_EQ(role("iexplore", "IEFrame", "오늘도 신나는 하루"), DesktopWindowRole::kGameBrowser);
  EXPECT_EQ(role("IEFrame", "Firefox", "신나는"), DesktopWindowRole::kGameBrowser);  // instance or class
  EXPECT_EQ(role("x", "MyIEFrameHost", "신나는"), DesktopWindowRole::kGameBrowser);  // contains
  EXPECT_EQ(role("iexplore", "IEFrame", "other page"), DesktopWindowRole::kOther);
  EXPECT_EQ(role("firefox", "Firefox", "신나는"), DesktopWindowRole::kOther);
  EXPECT_EQ(role("iexplore", "ieframe", "신나는"), DesktopWindowRole::kOther);  // byte for byte
  EXPECT_EQ(role("", "", "Tarvo - Download Music 1.2"), DesktopWindowRole::kMusicTool);
  EXPECT_EQ(role("", "", "tarvo - download music"), DesktopWindowRole::kOther);
  // A browser frame is never the music downloader, whatever its title.
  EXPECT_EQ(role("iexplore", "IEFrame", "Tarvo - Download Music"), DesktopWindowRole::kOther);
}

}  // namespace

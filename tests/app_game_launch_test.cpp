// The game's command line and the Start button's guards.
#include <gtest/gtest.h>

#include <map>

#include "app/GameLaunch.h"
#include "platform/process.h"
#include "session/StopCodes.h"
#include "support/DialogHarness.h"

namespace {

std::string FakeLookUp(const std::string& host) {
  static const std::map<std::string, std::string> table = {{"gamea", "10.0.0.1"}, {"gameb", "10.0.0.2"}};
  auto it = table.find(host);
  return it == table.end() ? "" : it->second;
}

}  // namespace

TEST(GameLaunch, ArgumentsInTheirOrder) {
  CPatchClientDlg dlg;
  dlg.m_gameServers = {{"alpha", 9000}, {"beta", 9001}};
  dlg.m_gameHosts = {"gamea", "gameb"};
  dlg.m_strFtpRoot = "/pub";
  dlg.m_strGameArg = "arg";
  dlg.m_gameFlags = {1, 0, 255, 2, 3, 4, 5, 6};
  std::vector<std::string> args = gamelaunch::BuildGameArguments(dlg, FakeLookUp);
  ASSERT_EQ(args.size(), 14u);
  EXPECT_EQ(args[0], " ");
  EXPECT_EQ(args[1], "2");
  EXPECT_EQ(args[2], "10.0.0.1 10.0.0.2");
  EXPECT_EQ(args[3], "/pub");
  EXPECT_EQ(args[4], "arg");
  EXPECT_EQ(std::vector<std::string>(args.begin() + 5, args.begin() + 13),
            (std::vector<std::string>{"1", "0", "255", "2", "3", "4", "5", "6"}));
  EXPECT_EQ(args[13], "alpha 9000 beta 9001");
  // What the game sees once the run-time has joined and split the line.
  std::vector<std::string> seen = platform::SplitLikeCommandLine(args);
  EXPECT_EQ(seen.front(), "2");
  EXPECT_EQ(seen.back(), "9001");
  EXPECT_EQ(seen.size(), 17u);
}

TEST(GameLaunch, HostsThatCannotBeLookedUpKeepTheirPlace) {
  CPatchClientDlg dlg;
  dlg.m_gameServers = {{"alpha", 1}};
  dlg.m_gameHosts = {"nowhere", "gameb"};
  EXPECT_EQ(gamelaunch::BuildGameArguments(dlg, FakeLookUp)[2], " 10.0.0.2");
  dlg.m_gameHosts = {"gameb", "nowhere"};
  EXPECT_EQ(gamelaunch::BuildGameArguments(dlg, FakeLookUp)[2], "10.0.0.2 ");  // only the last blank goes
  dlg.m_gameHosts.clear();
  std::vector<std::string> args = gamelaunch::BuildGameArguments(dlg, FakeLookUp);
  EXPECT_EQ(args[1], "0");
  EXPECT_EQ(args[2], "");
}

TEST(GameLaunch, OverlongGameServerIsBounded) {
  CPatchClientDlg dlg;
  dlg.m_gameServers = {{std::string(1000, 'h'), 9000}, {"beta", 9001}};
  std::string text = gamelaunch::BuildGameArguments(dlg, FakeLookUp)[13];
  EXPECT_EQ(text, std::string(253, 'h') + " 9000 beta 9001");
}

TEST(GameLaunch, RealLookUps) {
  EXPECT_EQ(gamelaunch::LookUpIPv4("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(gamelaunch::LookUpIPv4("10.20.30.40"), "10.20.30.40");
  EXPECT_EQ(gamelaunch::LookUpIPv4("localhost"), "127.0.0.1");
  EXPECT_EQ(gamelaunch::LookUpIPv4("no-such-host.invalid"), "");
  EXPECT_EQ(gamelaunch::LookUpIPv4(""), "");
}

TEST(GameLaunch, StartWithoutGameServersNeverStartsTheGame) {
  DialogHarness harness;
  harness.Dlg().SendMessage(WM_COMMAND, IDC_START, 0);  // locked: nothing happens
  EXPECT_TRUE(harness.StopCodes().empty());
  harness.Dlg().m_btnStart.EnableButton();
  harness.Dlg().SendMessage(WM_COMMAND, IDC_START, 0);
  EXPECT_EQ(harness.StopCodes(), std::vector<unsigned>{STOP_NO_SERVER_INFO});
  EXPECT_EQ(harness.Messages(), std::vector<std::string>{"接收服务器信息失败,请重新再试."});
}

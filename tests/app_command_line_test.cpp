// The launcher's command line: the count, then host and port pairs.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/PatchClientDlg.h"

TEST(CommandLine, PairsInOrderAndTokensAfterTheCountIgnored) {
  std::vector<ServerEntry> servers;
  ASSERT_TRUE(ParseServerList("2 alpha 1000 beta 2000", servers));
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[0].host, "alpha");
  EXPECT_EQ(servers[0].port, 1000);
  EXPECT_EQ(servers[1].host, "beta");
  EXPECT_EQ(servers[1].port, 2000);
  ASSERT_TRUE(ParseServerList("1 alpha 1000 beta 2000", servers));
  ASSERT_EQ(servers.size(), 1u);
  ASSERT_TRUE(ParseServerList("1   alpha    1000", servers));  // extra blanks are harmless
  EXPECT_EQ(servers[0].host, "alpha");
  EXPECT_EQ(servers[0].port, 1000);
}

TEST(CommandLine, UnusableLinesAreRefused) {
  std::vector<ServerEntry> servers;
  EXPECT_FALSE(ParseServerList("0 alpha 1000", servers));
  EXPECT_FALSE(ParseServerList("x alpha 1000", servers));
  EXPECT_FALSE(ParseServerList("-1 alpha 1000", servers));
  EXPECT_FALSE(ParseServerList("3 alpha 1000 beta 2000", servers));
  EXPECT_FALSE(ParseServerList("1 alpha", servers));
  EXPECT_FALSE(ParseServerList("", servers));
  EXPECT_FALSE(ParseServerList("99999999999999999999 a 1", servers));
  EXPECT_TRUE(servers.empty());
}

TEST(CommandLine, PortKeepsItsValueAndLongTokensAreBounded) {
  std::vector<ServerEntry> servers;
  ASSERT_TRUE(ParseServerList("1 " + std::string(100, 'h') + " 70000", servers));
  EXPECT_EQ(servers[0].host.size(), 31u);
  EXPECT_EQ(servers[0].port, 70000);
  EXPECT_EQ(static_cast<uint16_t>(servers[0].port), 4464);
  ASSERT_TRUE(ParseServerList("1 alpha notaport", servers));
  EXPECT_EQ(servers[0].port, 0);
}

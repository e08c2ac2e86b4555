// Stop codes: their messages, and how each ends the run.
#include <gtest/gtest.h>

#include "session/StopCodes.h"
#include "support/DialogHarness.h"

TEST(StopCodes, UnforeseenCodesShareOneText) {
  for (unsigned code : {3u, 8u, 11u, 13u, 15u, 18u, 99u, 0xFFFFFFFFu})
    EXPECT_STREQ(StopCodeMessage(code), "发现无法预知的错误,因此中断执行.") << code;
  EXPECT_STREQ(StopCodeMessage(17), "接收服务器信息失败,请重新再试.");
  EXPECT_EQ(StopCodeMessage(12), nullptr);
  EXPECT_EQ(StopCodeMessage(14), nullptr);
}

TEST(StopCodes, ShownCodeEndsTheRunAfterItsMessage) {
  DialogHarness h;
  h.Dlg().ReportStop(17);
  EXPECT_TRUE(h.WaitForLoopEnd(2000));
  EXPECT_EQ(h.Messages(), std::vector<std::string>{"接收服务器信息失败,请重新再试."});
}

TEST(StopCodes, FourteenEndsSilentlyAndReleasesThePendingList) {
  DialogHarness h;
  h.Dlg().m_pPatchList->push_back(PatchFileEntry{"Data\\a.zip", "a.zip", 10, 0});
  h.Dlg().ReportStop(14);
  EXPECT_TRUE(h.WaitForLoopEnd(2000));
  EXPECT_TRUE(h.Messages().empty());
  EXPECT_EQ(h.Dlg().m_pPatchList, nullptr);
  EXPECT_EQ(h.StopCodes(), std::vector<unsigned>{14});
}

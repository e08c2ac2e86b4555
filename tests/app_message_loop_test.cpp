// The message loop's delivery guarantees, and Cancel, which ends the run from any thread whatever
// the loop is doing.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/process.h"
#include "support/DialogHarness.h"

TEST(MessageLoop, SendWaitsForTheHandlerAndPostDoesNot) {
  std::atomic<int> handled{0};
  CMessageLoop loop([&](uint32_t message, WPARAM wParam, LPARAM) -> LRESULT {
    if (message == 1) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      handled = static_cast<int>(wParam);
    }
    return static_cast<LRESULT>(wParam) * 2;
  });
  std::thread runner([&] { loop.Run(); });
  loop.Invoke([] {});
  EXPECT_EQ(loop.SendMessage(1, 21, 0), 42);
  EXPECT_EQ(handled.load(), 21);  // the handler ran before SendMessage returned
  loop.PostQuitMessage();
  runner.join();
  // Once the loop has ended nothing is delivered and no sender hangs.
  EXPECT_EQ(loop.SendMessage(1, 5, 0), 0);
  EXPECT_EQ(handled.load(), 21);
}

TEST(MessageLoop, HandlerSendingToItsOwnLoopRunsDirectly) {
  CMessageLoop* self = nullptr;
  CMessageLoop loop([&](uint32_t message, WPARAM, LPARAM) -> LRESULT {
    if (message == 1) return self->SendMessage(2, 0, 0) + 1;
    return 10;
  });
  self = &loop;
  std::thread runner([&] { loop.Run(); });
  loop.Invoke([] {});
  EXPECT_EQ(loop.SendMessage(1, 0, 0), 11);
  loop.PostQuitMessage();
  runner.join();
}

TEST(MessageLoop, WaitingSendersAreReleasedWhenTheLoopEnds) {
  std::atomic<bool> release{false};
  CMessageLoop loop([&](uint32_t message, WPARAM, LPARAM) -> LRESULT {
    while (message == 1 && !release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 7;
  });
  std::thread runner([&] { loop.Run(); });
  loop.Invoke([] {});
  loop.PostMessage(1, 0, 0);  // keeps the loop busy
  loop.PostQuitMessage();
  std::atomic<LRESULT> late{-1};
  std::thread sender([&] { late = loop.SendMessage(2, 0, 0); });  // queued behind the quit
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  release = true;
  runner.join();
  sender.join();
  EXPECT_EQ(late.load(), 0);
}

namespace {
// Keeps the dialog's loop inside one handler until `release` is set, as a blocked connect would.
std::thread HoldLoop(DialogHarness& h, std::atomic<bool>& release) {
  return std::thread([&h, &release] {
    h.Dlg().Loop().Invoke([&release] {
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  });
}
}  // namespace

TEST(Cancel, JumpsTheQueueAndSilencesTheWorkItCutsShort) {
  DialogHarness h;
  std::atomic<bool> release{false};
  std::thread busy = HoldLoop(h, release);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the loop is inside the blocked handler
  h.Dlg().PostMessage(WM_PATCH_STOP, 17, 0);                   // queued ahead of the Cancel
  h.Dlg().RequestCancel();                                     // returns at once although the loop is blocked
  EXPECT_TRUE(h.Dlg().CancelRequested());
  EXPECT_EQ(h.Dlg().MessageBox("a failure of cancelled work", 0), IDOK);
  release = true;
  busy.join();
  EXPECT_TRUE(h.WaitForLoopEnd(2000));
  EXPECT_TRUE(h.StopCodes().empty());  // the quit went first
  EXPECT_TRUE(h.Messages().empty());
}

TEST(Cancel, BackstopEndsAHandlerThatNeverReturns) {
  DialogHarness h;
  std::atomic<bool> ended{false}, release{false};
  h.Dlg().SetCancelBackstop([&] { ended = true; });
  std::thread busy = HoldLoop(h, release);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  h.Dlg().RequestCancel();
  h.Dlg().RequestCancel();  // a second press changes nothing
  for (int i = 0; i < 5000 && !ended; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(ended.load());
  release = true;
  busy.join();
}

TEST(Cancel, ExitFunctionsRunOnceWhenTwoThreadsEndTheProcessAtOnce) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  static int s_fd = -1;
  pid_t pid = fork();
  if (pid == 0) {
    s_fd = out[1];
    platform::RegisterExitFunction([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the other thread arrives meanwhile
      ssize_t n = write(s_fd, "x", 1);
      (void)n;
    });
    std::thread other([] { platform::ExitProcess(3); });
    other.detach();
    platform::ExitProcess(3);
  }
  close(out[1]);
  std::string written;
  char c;
  while (read(out[0], &c, 1) == 1) written.push_back(c);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(written, "x");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
}

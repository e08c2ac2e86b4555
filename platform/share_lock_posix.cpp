#include "platform/share_lock_posix.h"

#include <errno.h>
#include <sys/file.h>

#include <chrono>
#include <thread>

namespace platform {

namespace {
// Far longer than a fork and exec take on a loaded machine, and short enough that a file that is
// really held elsewhere is reported at once to the player's eye.
constexpr auto kSettleTime = std::chrono::milliseconds(100);
constexpr auto kPause = std::chrono::milliseconds(5);
}  // namespace

bool TakeShareLock(int fd, int operation) {
  const auto until = std::chrono::steady_clock::now() + kSettleTime;
  for (;;) {
    if (flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (std::chrono::steady_clock::now() >= until) break;
    std::this_thread::sleep_for(kPause);
  }
  errno = EBUSY;
  return false;
}

}  // namespace platform

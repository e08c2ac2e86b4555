// The share lock that stands in for Windows' share modes on an open file.
#pragma once

namespace platform {

// Takes flock `operation` (LOCK_SH or LOCK_EX) on `fd` without blocking for long. A program being
// started holds copies of every descriptor, and with them their locks, between its fork and its
// exec; a lock refused only for that moment is tried again for a short bounded time. False (errno
// EBUSY) when another holder keeps it.
bool TakeShareLock(int fd, int operation);

}  // namespace platform

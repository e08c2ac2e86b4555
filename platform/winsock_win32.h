// Winsock's start-up, shared by the Windows variants that use sockets or the resolver.
#pragma once

namespace platform {

// Starts Winsock 2 on first use and leaves it running until the process ends. Any thread.
bool StartWinsock();

}  // namespace platform

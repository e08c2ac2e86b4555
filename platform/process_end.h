// The system's own end of a process, behind ExitProcess.
#pragma once

namespace platform {

// Ends the process with `code` at once: no static destructors, no exit handlers of the run-time,
// no flushing, nothing that could wait for a lock another thread (a worker, a blocked read of
// standard input) still holds.
[[noreturn]] void EndProcessAtOnce(int code);

}  // namespace platform

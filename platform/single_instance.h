// The named single-instance lock. The system frees it when the process ends, even when killed.
#pragma once

namespace platform {

// Takes the lock named `name`. Returns false when another process holds it already.
// The lock is held for the rest of the process's life and is never inherited by child processes.
bool AcquireSingleInstance(const char* name);

}  // namespace platform

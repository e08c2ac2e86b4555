// The named single-instance lock, and the lock on the installation a run works on. The system frees
// both when the process ends, even when it is killed, and no started program inherits them.
#pragma once
#include <string>

namespace platform {

enum class LockResult {
  kTaken,          // this process holds it now (or held it already)
  kHeldElsewhere,  // another process holds it
  kNoPlace,        // no lock could be made at all
};

// Takes the per-user lock named `name` for the rest of the process's life. Its place follows from
// the user's identity alone, never from variables a caller can set, so every client of one user
// meets the same lock however it was started.
LockResult AcquireSingleInstance(const char* name);

// Takes a lock on the folder `folder` itself (whatever name or link reaches it) for the rest of the
// process's life, so that two clients never work on one installation at once, whoever runs them.
// Taking it again for the same folder is a no-op.
LockResult LockFolderForProcess(const std::string& folder);

}  // namespace platform

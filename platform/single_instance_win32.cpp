#include <windows.h>

#include "platform/single_instance.h"
#include "platform/wide_win32.h"

namespace platform {

bool AcquireSingleInstance(const char* name) {
  // Without security attributes the handle is not inheritable, so a started game never holds it.
  // The handle stays open on purpose: the mutex lives until the process ends, however it ends.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, WideFromUtf8(name).c_str());
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  return true;  // a mutex that cannot be made at all must not keep the client from running
}

}  // namespace platform

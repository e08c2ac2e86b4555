#include <windows.h>

#include <cstdio>
#include <mutex>
#include <set>
#include <string>

#include "platform/single_instance.h"
#include "platform/wide_win32.h"

namespace platform {
namespace {

// A mutex that stays open on purpose: it lives until the process ends, however it ends. Without
// security attributes the handle is not inheritable, so a started game never holds it.
LockResult HoldMutex(const std::wstring& name) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (!mutex) return GetLastError() == ERROR_ACCESS_DENIED ? LockResult::kHeldElsewhere : LockResult::kNoPlace;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return LockResult::kHeldElsewhere;
  }
  return LockResult::kTaken;
}

}  // namespace

LockResult AcquireSingleInstance(const char* name) { return HoldMutex(WideFromUtf8(name)); }

LockResult LockFolderForProcess(const std::string& folder) {
  // The folder's identity (its volume and file index), not its name, names the lock, so every way
  // of reaching the folder meets it; in the global namespace, so every user's session does too.
  HANDLE handle = CreateFileW(WideFromUtf8(folder).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LockResult::kNoPlace;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known) return LockResult::kNoPlace;
  wchar_t name[80];
  std::swprintf(name, sizeof name / sizeof name[0], L"Global\\TarvoPatchClient-%08lx-%08lx%08lx",
                static_cast<unsigned long>(info.dwVolumeSerialNumber), static_cast<unsigned long>(info.nFileIndexHigh),
                static_cast<unsigned long>(info.nFileIndexLow));
  static std::mutex guard;
  static std::set<std::wstring> held;
  std::lock_guard<std::mutex> hold(guard);
  if (held.count(name)) return LockResult::kTaken;
  const LockResult result = HoldMutex(name);
  if (result == LockResult::kTaken) held.insert(name);
  return result;
}

}  // namespace platform

#include <windows.h>

#include <cstdint>

#include "platform/disk_space.h"
#include "platform/wide_win32.h"

namespace platform {

int64_t FreeDiskBytes(const std::string& folder) {
  ULARGE_INTEGER available{};
  // The caller's share, after quotas, is what a patch may fill.
  if (!GetDiskFreeSpaceExW(WideFromUtf8(folder).c_str(), &available, nullptr, nullptr)) return -1;
  return available.QuadPart > static_cast<ULONGLONG>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(available.QuadPart);
}

}  // namespace platform

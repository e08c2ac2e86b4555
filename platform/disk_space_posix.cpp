#include <sys/statvfs.h>

#include "platform/disk_space.h"
#include "platform/files.h"

namespace platform {

int64_t FreeDiskBytes(const std::string& folder) {
  struct statvfs info{};
  if (statvfs(ResolvePath(folder).c_str(), &info) != 0) return -1;
  // What an unprivileged writer may use; root's reserve does not count.
  const unsigned long long bytes = static_cast<unsigned long long>(info.f_bavail) * info.f_frsize;
  return bytes > static_cast<unsigned long long>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(bytes);
}

}  // namespace platform

// The parts of the file services that are the same on every system, built on the variants.
#include "platform/files.h"
#include "platform/stdio_mode.h"

namespace platform {

bool IsNetworkPath(std::string_view path) {
  return path.size() >= 2 && path[0] == '\\' && (path[1] == '\\' || path[1] == '/');
}

bool FileExists(std::string_view path) {
  uint32_t attributes = GetFileAttributes(path);
  return attributes != kInvalidFileAttributes && !(attributes & kFileAttributeDirectory);
}

bool DirectoryExists(std::string_view path) {
  uint32_t attributes = GetFileAttributes(path);
  return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory);
}

bool ParseStdioMode(const char* mode, StdioMode& out) {
  if (!mode || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) return false;
  out = StdioMode{mode[0]};
  for (const char* m = mode + 1; *m; ++m) {
    if (*m == '+') out.plus = true;
    if (*m == 'x') out.exclusive = true;
  }
  return true;
}

}  // namespace platform

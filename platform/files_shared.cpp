// The parts of the file services that are the same on every system, built on the variants.
#include "platform/files.h"

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

}  // namespace platform

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/files.h"

namespace platform {
namespace {

bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool Exists(const std::string& native) {
  struct stat st{};
  return lstat(native.c_str(), &st) == 0;
}

// The entry of `folder` equal to `component` but for ASCII case; the smallest such name when
// several exist, so the choice never depends on the directory's order.
bool FindNoCase(const std::string& folder, std::string_view component, std::string* found) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  bool any = false;
  while (dirent* entry = readdir(dir)) {
    std::string_view name(entry->d_name);
    if (AsciiEqualNoCase(name, component) && (!any || name < *found)) {
      *found = std::string(name);
      any = true;
    }
  }
  closedir(dir);
  return any;
}

}  // namespace

std::string ResolvePath(std::string_view path) {
  std::string result;
  size_t pos = 0;
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) {
    result = "/";
    pos = 1;
  }
  bool resolving = true;  // once a component is missing, nothing below it can exist
  while (pos <= path.size()) {
    size_t end = path.find_first_of("/\\", pos);
    if (end == std::string_view::npos) end = path.size();
    std::string_view component = path.substr(pos, end - pos);
    if (!component.empty()) {
      std::string candidate = result + std::string(component);
      if (component == "." || component == "..") {
        result = candidate;
      } else if (resolving && !Exists(candidate)) {
        std::string found;
        if (FindNoCase(result, component, &found)) {
          result += found;
        } else {
          result = candidate;
          resolving = false;
        }
      } else {
        result = candidate;
      }
      if (end < path.size()) result += '/';
    }
    pos = end + 1;
  }
  return result;
}

bool IsNetworkPath(std::string_view path) {
  return path.size() >= 2 && path[0] == '\\' && (path[1] == '\\' || path[1] == '/');
}

bool SetCurrentDirectory(std::string_view path) {
  std::string native = ResolvePath(path);
  return !native.empty() && chdir(native.c_str()) == 0;
}

std::string GetCurrentDirectory() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

}  // namespace platform

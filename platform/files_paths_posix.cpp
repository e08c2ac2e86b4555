#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/Ascii.h"
#include "platform/files.h"

namespace platform {
namespace {

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

// Folder (as resolved, with its trailing '/') -> lowered name -> the name to use.
struct ScopedPathCache::Listings {
  std::unordered_map<std::string, std::unordered_map<std::string, std::string>> folders;
};

namespace {

thread_local ScopedPathCache::Listings* t_listings = nullptr;

// The name to use for `component` in `folder` when it does not exist with its exact case.
bool FindNoCaseCached(const std::string& folder, std::string_view component, std::string* found) {
  if (!t_listings) return FindNoCase(folder, component, found);
  auto [it, added] = t_listings->folders.try_emplace(folder);
  auto& names = it->second;
  if (added) {
    if (DIR* dir = opendir(folder.empty() ? "." : folder.c_str())) {
      while (dirent* entry = readdir(dir)) {
        std::string name(entry->d_name);
        auto [slot, fresh] = names.try_emplace(AsciiLower(name), name);
        if (!fresh && name < slot->second) slot->second = name;
      }
      closedir(dir);
    }
  }
  auto [slot, fresh] = names.try_emplace(AsciiLower(component), std::string(component));
  // A name remembered as handed out keeps later variants of it on the same spelling.
  if (fresh || slot->second == component) return false;
  *found = slot->second;
  return true;
}

}  // namespace

ScopedPathCache::ScopedPathCache() : m_listings(new Listings), m_previous(t_listings) { t_listings = m_listings; }

ScopedPathCache::~ScopedPathCache() {
  t_listings = m_previous;
  delete m_listings;
}

std::string ResolvePath(std::string_view path) {
  std::string result;
  size_t pos = 0;
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) {
    result = "/";
    pos = 1;
  }
  // ".." takes back the name in front of it without asking the file system, as Windows does: behind
  // a folder link the system's ".." would lead to the parent of wherever the link points.
  struct Step {
    size_t before;  // the length of `result` in front of the component
    bool name;      // a name that a ".." may take back (not "." nor "..")
  };
  std::vector<Step> steps;
  size_t missingAt = std::string::npos;  // the step from which nothing exists, below which nothing can
  while (pos <= path.size()) {
    size_t end = path.find_first_of("/\\", pos);
    if (end == std::string_view::npos) end = path.size();
    std::string_view component = path.substr(pos, end - pos);
    pos = end + 1;
    if (component.empty()) continue;
    if (component == ".." && !steps.empty() && steps.back().name) {
      result.resize(steps.back().before);
      steps.pop_back();
      if (missingAt != std::string::npos && steps.size() <= missingAt) missingAt = std::string::npos;
      continue;
    }
    bool name = component != "." && component != "..";
    steps.push_back({result.size(), name});
    std::string candidate = result + std::string(component);
    if (name && missingAt == std::string::npos && !Exists(candidate)) {
      std::string found;
      if (FindNoCaseCached(result, component, &found)) {
        candidate = result + found;
      } else {
        missingAt = steps.size() - 1;
      }
    }
    result = candidate;
    if (end < path.size()) result += '/';
  }
  if (result.empty() && !path.empty()) return ".";
  return result;
}

bool SetCurrentDirectory(std::string_view path) {
  std::string native = ResolvePath(path);
  return !native.empty() && chdir(native.c_str()) == 0;
}

bool SetCurrentDirectoryNoLink(std::string_view path) {
  std::string native = ResolvePath(path);
  struct stat named{};
  if (native.empty() || lstat(native.c_str(), &named) != 0 || !S_ISDIR(named.st_mode)) return false;
  if (chdir(native.c_str()) != 0) return false;
  // The name might have been swapped for a link between the look and the change.
  struct stat entered{};
  return stat(".", &entered) == 0 && entered.st_dev == named.st_dev && entered.st_ino == named.st_ino;
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

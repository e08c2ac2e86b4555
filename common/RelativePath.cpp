#include "common/RelativePath.h"

#include <vector>

#include "common/Ascii.h"

namespace {

// Windows opens a device, not a file, for these names in any folder, whatever follows the first dot
// and however many blanks end the stem ("nul.zip", "Con .txt", "COM1"): writing there would reach a
// console, printer or port instead of the game folder.
bool IsWindowsDeviceName(std::string_view component) {
  std::string_view stem = component.substr(0, component.find('.'));
  stem = stem.substr(0, stem.find_last_not_of(' ') + 1);
  for (std::string_view device : {"con", "prn", "aux", "nul", "conin$", "conout$"})
    if (AsciiEqualNoCase(stem, device)) return true;
  if (stem.size() != 4 || stem[3] < '1' || stem[3] > '9') return false;
  return AsciiEqualNoCase(stem.substr(0, 3), "com") || AsciiEqualNoCase(stem.substr(0, 3), "lpt");
}

// Calls `visit` with each component between separators ('\\' and '/'), empty ones included, until
// it returns false; returns whether every call returned true.
template <typename Visit>
bool EveryComponent(std::string_view path, Visit visit) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    if (!visit(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

bool IsContainedRelativePath(std::string_view path) {
  if (!path.empty() && (path.front() == '\\' || path.front() == '/')) return false;
  if (path.find_first_of(std::string_view(":\0", 2)) != std::string_view::npos) return false;
  int depth = 0;
  return EveryComponent(path, [&depth](std::string_view component) {
    if (component == "..") return --depth >= 0;
    if (component.empty() || component == ".") return true;
    if (component.find_first_not_of(". ") == std::string_view::npos) return false;
    if (IsWindowsDeviceName(component)) return false;
    ++depth;
    return true;
  });
}

std::vector<std::string_view> PathComponents(std::string_view path) {
  std::vector<std::string_view> components;
  EveryComponent(path, [&components](std::string_view component) {
    if (component == "..") {
      if (!components.empty()) components.pop_back();
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    return true;
  });
  return components;
}

std::string LocalNameKey(std::string_view path) {
  std::string key;
  for (std::string_view component : PathComponents(path)) {
    if (!key.empty()) key += '\\';
    // Windows drops a name's trailing dots and blanks, so "big.zip." opens "big.zip" there.
    key += AsciiLower(component.substr(0, component.find_last_not_of(". ") + 1));
  }
  return key;
}

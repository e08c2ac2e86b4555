#include "install/EntryPaths.h"

#include <algorithm>
#include <vector>

#include "common/Ascii.h"
#include "platform/codepage.h"
#include "platform/files.h"

std::optional<std::string> DecodeEntryName(std::string_view stored, bool markedUtf8) {
  if (stored.find('\0') != std::string_view::npos) return std::nullopt;
  if (markedUtf8) {
    if (!platform::IsValidUtf8(stored)) return std::nullopt;
    return std::string(stored);
  }
  return platform::Cp936ToUtf8(stored);  // every byte string has a name in code page 936
}

std::optional<std::string> EntryPathOf(std::string_view stored, bool markedUtf8) {
  std::optional<std::string> name = DecodeEntryName(stored, markedUtf8);
  if (!name || !IsContainedRelativePath(*name)) return std::nullopt;
  return name;
}

bool IsInLinkedScratchFolder(std::string_view path) {
  // Of the path as the file system takes it, without ".": with '/' on Linux and '\' on Windows.
  std::vector<std::string> components;
  std::string resolved = platform::ResolvePath(path);
  for (size_t pos = 0; pos < resolved.size() && components.size() < 3;) {
    size_t end = std::min(resolved.find_first_of("/\\", pos), resolved.size());
    if (end > pos && resolved.compare(pos, end - pos, ".") != 0) components.push_back(resolved.substr(pos, end - pos));
    pos = end + 1;
  }
  auto is = [&](size_t i, const char* name) { return components.size() > i && AsciiEqualNoCase(components[i], name); };
  if (components.size() > 1 && is(0, "Temp")) return platform::IsLink(components[0]);
  if (components.size() > 2 && (is(0, "Image") || is(0, "Music")) && is(1, "Temp")) {
    return platform::IsLink(components[0] + "/" + components[1]);
  }
  return false;
}

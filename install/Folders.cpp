#include <string>
#include <vector>

#include "app/PatchClientDlg.h"
#include "install/EntryPaths.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace {

// The last '\' that is a separator. UTF-8 text never hides 0x5C inside a character; text still in
// code page 936 can, as the trail byte of a double-byte character.
size_t FindLastSeparator(const std::string& path) {
  if (platform::IsValidUtf8(path)) return path.rfind('\\');
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    auto byte = static_cast<unsigned char>(path[i]);
    if (byte >= 0x81 && byte <= 0xFE && i + 1 < path.size()) {
      ++i;
    } else if (byte == '\\') {
      last = i;
    }
  }
  return last;
}

bool FolderFound(const std::string& folder) {
  platform::FileFind find;
  return find.FindFirst(folder) && find.IsDirectory();
}

}  // namespace

int CPatchClientDlg::EnsureFileFolder(std::string path) {
  size_t cut = FindLastSeparator(path);
  if (cut == std::string::npos || cut == 0) return 1;
  std::string folder = path.substr(0, cut);
  // The paths come from the server's patch list: one that leaves the game folder is refused
  // instead of being made somewhere else on the machine.
  if (!IsContainedRelativePath(folder) || IsInLinkedScratchFolder(path)) return 0;
  return EnsureFolder(folder);
}

int CPatchClientDlg::EnsureFolder(std::string folder) {
  if (FolderFound(folder)) return 1;
  std::vector<std::string> prefixes;
  std::string current;
  for (char c : folder) {
    if (c == '\\') prefixes.push_back(current);
    current += c;
  }
  prefixes.push_back(current);
  for (const std::string& prefix : prefixes) {
    if (platform::CreateDirectory(prefix)) platform::SetFileAttributes(prefix, platform::kFileAttributeNormal);
  }
  return FolderFound(folder) ? 1 : 0;
}

#include <dirent.h>
#include <sys/stat.h>

#include "platform/file_find_system.h"

namespace platform::findsystem {

bool ListFolder(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  while (dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
  closedir(dir);
  return true;
}

bool EntryInfo(const std::string& path, bool& isDirectory, uint64_t& size) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) return false;
  isDirectory = S_ISDIR(st.st_mode);
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

}  // namespace platform::findsystem

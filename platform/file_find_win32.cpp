#include <windows.h>

#include "platform/file_find_system.h"
#include "platform/files_native_win32.h"
#include "platform/wide_win32.h"

namespace platform::findsystem {

bool ListFolder(const std::string& folder, std::vector<std::string>& names) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW(NativePath(folder + "*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    names.push_back(Utf8FromWide(data.cFileName));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
}

bool EntryInfo(const std::string& path, bool& isDirectory, uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(NativePath(path).c_str(), GetFileExInfoStandard, &data)) return false;
  isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  return true;
}

}  // namespace platform::findsystem

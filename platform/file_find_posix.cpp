#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "common/Ascii.h"
#include "platform/files.h"

namespace platform {

FileFind::~FileFind() { Close(); }

bool FileFind::FindFirst(std::string_view pattern) {
  Close();
  size_t cut = pattern.find_last_of("/\\");
  std::string_view folder = cut == std::string_view::npos ? std::string_view() : pattern.substr(0, cut + 1);
  std::string_view namePattern = cut == std::string_view::npos ? pattern : pattern.substr(cut + 1);
  if (namePattern.empty()) return false;
  m_folder = folder.empty() ? std::string() : ResolvePath(folder);
  if (!m_folder.empty() && m_folder.back() != '/') m_folder += '/';

  DIR* dir = opendir(m_folder.empty() ? "." : m_folder.c_str());
  if (!dir) return false;
  while (dirent* entry = readdir(dir)) {
    if (WildcardMatch(namePattern, entry->d_name)) m_entries.emplace_back(entry->d_name);
  }
  closedir(dir);
  std::sort(m_entries.begin(), m_entries.end(), [](const std::string& a, const std::string& b) {
    std::string la = AsciiLower(a), lb = AsciiLower(b);
    return la != lb ? la < lb : a < b;
  });
  return Advance();
}

bool FileFind::FindNext() { return Advance(); }

bool FileFind::Advance() {
  // Entries that vanished since the listing was taken are passed over, as a live search would.
  while (m_next < m_entries.size()) {
    m_name = m_entries[m_next++];
    struct stat st{};
    if (stat((m_folder + m_name).c_str(), &st) != 0) continue;
    m_isDirectory = S_ISDIR(st.st_mode);
    m_size = m_isDirectory ? 0 : static_cast<uint64_t>(st.st_size);
    return true;
  }
  m_name.clear();
  m_isDirectory = false;
  m_size = 0;
  return false;
}

void FileFind::Close() {
  m_entries.clear();
  m_next = 0;
  m_folder.clear();
  m_name.clear();
  m_isDirectory = false;
  m_size = 0;
}

}  // namespace platform

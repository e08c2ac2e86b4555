#include <algorithm>

#include "common/Ascii.h"
#include "platform/file_find_system.h"
#include "platform/files.h"

namespace platform {

FileFind::~FileFind() { Close(); }

// The folder is listed whole and matched by the shared wildcard rule (Windows' own matching would
// also try the short 8.3 names, so "*.qkn" could find "abc.qknx" through "ABC~1.QKN").
bool FileFind::FindFirst(std::string_view pattern) {
  Close();
  size_t cut = pattern.find_last_of("/\\");
  std::string_view folder = cut == std::string_view::npos ? std::string_view() : pattern.substr(0, cut + 1);
  std::string_view namePattern = cut == std::string_view::npos ? pattern : pattern.substr(cut + 1);
  if (namePattern.empty()) return false;
  m_folder = folder.empty() ? std::string() : ResolvePath(folder);
  if (!m_folder.empty() && m_folder.back() != '/' && m_folder.back() != '\\') m_folder += '/';

  std::vector<std::string> names;
  if (!findsystem::ListFolder(m_folder, names)) return false;
  for (std::string& name : names)
    if (WildcardMatch(namePattern, name)) m_entries.push_back(std::move(name));
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
    if (!findsystem::EntryInfo(m_folder + m_name, m_isDirectory, m_size)) continue;
    if (m_isDirectory) m_size = 0;
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

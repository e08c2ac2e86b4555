#include "support/TempDir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder: " + std::string(strerror(errno)));
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests leave read-only files and folders behind on purpose: give the owner write access first.
  fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(m_path, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(m_path, ec);
}

CurrentFolder::CurrentFolder(const fs::path& folder) : m_previous(fs::current_path()) { fs::current_path(folder); }

CurrentFolder::~CurrentFolder() {
  std::error_code ec;
  fs::current_path(m_previous, ec);
}

#include "support/TempDir.h"

#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& prefix) {
  // A name nobody holds yet, made by this object: creating a folder fails when the name exists.
  std::random_device seed;
  std::mt19937_64 random(seed());
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  for (int attempt = 0; attempt < 100 && !ec; ++attempt) {
    fs::path candidate = base / (prefix + "-" + std::to_string(random() % 1000000000));
    if (fs::create_directory(candidate, ec)) {
      fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, ec);
      m_path = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder in " + base.string());
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

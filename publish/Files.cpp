#include "publish/Files.h"

#include <fstream>

namespace publish {

namespace fs = std::filesystem;

fs::path PartPath(const fs::path& target) {
  return target.parent_path() / ("." + target.filename().string() + ".part");
}

namespace {
bool Rename(const fs::path& part, const fs::path& target, std::string& why) {
  std::error_code error;
  fs::rename(part, target, error);
  if (!error) return true;
  fs::remove(part, error);
  why = "cannot write " + target.string();
  return false;
}
}  // namespace

bool WriteInPlace(const fs::path& target, const std::string& bytes, std::string& why) {
  std::error_code error;
  fs::create_directories(target.parent_path(), error);
  const fs::path part = PartPath(target);
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!(out << bytes) || !out.flush()) {
      why = "cannot write " + part.string();
      return false;
    }
  }
  return Rename(part, target, why);
}

bool CopyInPlace(const fs::path& source, const fs::path& target, std::string& why) {
  std::error_code error;
  fs::create_directories(target.parent_path(), error);
  const fs::path part = PartPath(target);
  fs::copy_file(source, part, fs::copy_options::overwrite_existing, error);
  if (error) {
    why = "cannot copy " + source.string() + ": " + error.message();
    return false;
  }
  return Rename(part, target, why);
}

}  // namespace publish

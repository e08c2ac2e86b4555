// Files put on the FTP tree under a temporary name first, so that a player never fetches half
// of one while it is being published.
#pragma once
#include <filesystem>
#include <string>

namespace publish {

// The hidden temporary name beside `target` (".name.part").
std::filesystem::path PartPath(const std::filesystem::path& target);
bool WriteInPlace(const std::filesystem::path& target, const std::string& bytes, std::string& why);
bool CopyInPlace(const std::filesystem::path& source, const std::filesystem::path& target, std::string& why);

}  // namespace publish

// What FileFind asks of the system; the listing's order and matching are shared.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform::findsystem {

// The names in `folder` ("" for the current one, else ending in a separator). False when the
// folder cannot be listed.
bool ListFolder(const std::string& folder, std::vector<std::string>& names);
// The kind and size of an entry (a link as what it leads to); false when it is gone.
bool EntryInfo(const std::string& path, bool& isDirectory, uint64_t& size);

}  // namespace platform::findsystem

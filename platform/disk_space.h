// Free space on a file system, so that a step can tell before it starts whether it fits.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Bytes the caller may still write on the file system that holds `folder`; -1 when unknown.
int64_t FreeDiskBytes(const std::string& folder);

}  // namespace platform

// Host name look-up for the game's command line.
#pragma once
#include <string>

namespace platform {

// The first IPv4 address of `host` in dotted form, or "" when it has none.
std::string LookUpIPv4(const std::string& host);

}  // namespace platform

// Host name look-up for the game's command line.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// The first IPv4 address of `host` in dotted form, or "" when it has none.
std::string LookUpIPv4(const std::string& host);

// The system's resolver behind LookUpIPv4: the first IPv4 address of `host`, its bytes in network
// order. False when it has none.
bool ResolveIPv4(const std::string& host, uint8_t address[4]);

}  // namespace platform

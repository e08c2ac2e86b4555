#include "platform/name_lookup.h"

#include <cstdio>

namespace platform {

std::string LookUpIPv4(const std::string& host) {
  uint8_t address[4] = {};
  if (host.empty() || !ResolveIPv4(host, address)) return "";
  char dotted[16] = {};
  std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
  return dotted;
}

}  // namespace platform

#include "platform/name_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdio>

namespace platform {

std::string LookUpIPv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* result = nullptr;
  if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return "";
  const auto* address = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
  uint32_t ip = ntohl(address->sin_addr.s_addr);
  freeaddrinfo(result);
  char dotted[32] = {};
  std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", (ip >> 24) & 0xFF, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF,
                ip & 0xFF);
  return dotted;
}

}  // namespace platform

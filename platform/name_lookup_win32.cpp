#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/name_lookup.h"
#include "platform/winsock_win32.h"

namespace platform {

bool ResolveIPv4(const std::string& host, uint8_t address[4]) {
  if (!StartWinsock()) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* result = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return false;
  const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
  std::memcpy(address, &ipv4->sin_addr.s_addr, 4);  // stored in network order: the dotted order
  freeaddrinfo(result);
  return true;
}

}  // namespace platform

// The addresses the notice page may go to: http and https ones, by the scheme before the first
// colon, in either case. Any other scheme would show the player's own disk (file:), run script that
// belongs to no site (about:, data:, javascript:) or hand the address to another program.
#pragma once
#include <string_view>

#include "common/Ascii.h"

inline bool IsWebAddress(std::string_view url) {
  const size_t colon = url.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view scheme = url.substr(0, colon);
  return AsciiEqualNoCase(scheme, "http") || AsciiEqualNoCase(scheme, "https");
}

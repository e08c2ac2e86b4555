#include "platform/files.h"

#include "common/Ascii.h"

namespace platform {
namespace {

// Iterative glob with single-star backtracking: linear in practice and never recursive, so a
// hostile pattern or name cannot blow the stack.
bool GlobMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || AsciiLower(pattern[p]) == AsciiLower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (GlobMatch(pattern, name)) return true;
  // Windows lets a trailing ".*" also match names without any dot, which is why "*.*" lists
  // every file, "readme" and "xyzqkn" included.
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
      name.find('.') == std::string_view::npos) {
    return GlobMatch(pattern.substr(0, pattern.size() - 2), name);
  }
  return false;
}

}  // namespace platform

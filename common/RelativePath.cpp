#include "common/RelativePath.h"

bool IsContainedRelativePath(std::string_view path) {
  if (!path.empty() && (path.front() == '\\' || path.front() == '/')) return false;
  if (path.find_first_of(std::string_view(":\0", 2)) != std::string_view::npos) return false;
  int depth = 0;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view component = path.substr(start, end - start);
    if (component == "..") {
      if (--depth < 0) return false;
    } else if (!component.empty() && component != ".") {
      if (component.find_first_not_of(". ") == std::string_view::npos) return false;
      ++depth;
    }
    start = end + 1;
  }
  return true;
}

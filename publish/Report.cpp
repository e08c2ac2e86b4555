#include "publish/Report.h"

#include <cstdio>

#include "platform/codepage.h"

namespace publish {

int Report::Errors() const {
  int errors = 0;
  for (const Problem& problem : m_problems) errors += problem.error;
  return errors;
}

void Report::Print(std::ostream& out) const {
  for (const Problem& problem : m_problems) {
    out << problem.file << ": " << (problem.error ? "error: " : "warning: ") << problem.reason << "\n";
  }
}

std::string Printable(std::string_view bytes) {
  const bool utf8 = platform::IsValidUtf8(bytes);
  std::string text;
  for (unsigned char c : bytes) {
    if ((c >= 0x20 && c < 0x7F) || (utf8 && c >= 0x80)) {
      text += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  return text;
}

}  // namespace publish

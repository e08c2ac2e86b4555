// An fopen mode as every system's OpenStdio reads it.
#pragma once
#include <string>

namespace platform {

struct StdioMode {
  char kind = 0;  // 'r', 'w' or 'a'
  bool plus = false;
  bool exclusive = false;  // 'x': only a new file
  bool Writes() const { return kind != 'r' || plus; }
  // The mode for a stream over the opened file: its kind, '+', and binary.
  std::string StreamMode() const { return std::string(1, kind) + (plus ? "+b" : "b"); }
};

// False for no mode or one that is not read, write or append.
bool ParseStdioMode(const char* mode, StdioMode& out);

}  // namespace platform

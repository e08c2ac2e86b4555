// Text in the Chinese Windows code page (936) and UTF-8, the program's own encoding.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// What stands for a byte or byte pair that no table of code page 936 maps: U+FFFD, the
// replacement character.
inline constexpr char32_t kUnmappedCp936 = 0xFFFD;

// The UTF-8 form of code page 936 text, as Windows reads it. The user-defined areas become the
// private-use characters Windows gives them (AAA1-AFFE from U+E000, then F8A1-FEFE, then
// A140-A7A0), and anything no table maps becomes kUnmappedCp936, so every byte string has a name
// and the same one on every run.
std::string Cp936ToUtf8(std::string_view text);

// The system's code page 936 table (iconv on Linux, MultiByteToWideChar on Windows) behind
// Cp936ToUtf8: the UTF-8 of the whole text, or nothing when any part of it is not in the table.
std::optional<std::string> SystemCp936ToUtf8(std::string_view text);

// True for well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view text);

}  // namespace platform

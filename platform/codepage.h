// Text in the Chinese Windows code page (936) and UTF-8, the program's own encoding.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The UTF-8 form of code page 936 text, or nothing when the bytes are not valid in that code page.
std::optional<std::string> Cp936ToUtf8(std::string_view text);

// True for well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view text);

}  // namespace platform

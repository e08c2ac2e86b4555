// UTF-8, the program's own encoding, and UTF-16, the wide Windows API's, converted where the two
// meet. Only the _win32 files of this folder use it.
#pragma once
#include <string>
#include <string_view>

namespace platform {

// Ill-formed input turns into U+FFFD rather than being dropped, so a name never shrinks into another.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace platform

#include <windows.h>

#include "platform/codepage.h"

namespace platform {

std::optional<std::string> SystemCp936ToUtf8(std::string_view text) {
  if (text.empty()) return std::string();
  const int inLength = static_cast<int>(text.size());
  // Strict, so that a byte the table does not know fails the whole text and the shared rule decides
  // it, instead of the system's own default character.
  int wideLength = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, text.data(), inLength, nullptr, 0);
  if (wideLength <= 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, text.data(), inLength, wide.data(), wideLength);
  int outLength = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (outLength <= 0) return std::nullopt;
  std::string out(static_cast<size_t>(outLength), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, out.data(), outLength, nullptr, nullptr);
  return out;
}

}  // namespace platform

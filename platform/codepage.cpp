#include "platform/codepage.h"

#include <cstdint>

namespace platform {
namespace {

bool IsLeadByte(uint8_t byte) { return byte >= 0x81 && byte <= 0xFE; }
bool IsTrailByte(uint8_t byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }

// The private-use character of a pair in a user-defined area, in Windows' order: the 94-cell rows
// AAA1-AFFE, then F8A1-FEFE, then the 96-cell rows A140-A7A0 (trail bytes 40-7E and 80-A0).
std::optional<char32_t> UserDefinedCharacter(uint8_t lead, uint8_t trail) {
  if (trail >= 0xA1) {
    if (lead >= 0xAA && lead <= 0xAF) return 0xE000 + (lead - 0xAA) * 94 + (trail - 0xA1);
    if (lead >= 0xF8) return 0xE000 + 6 * 94 + (lead - 0xF8) * 94 + (trail - 0xA1);
  } else if (lead >= 0xA1 && lead <= 0xA7 && trail <= 0xA0) {
    return 0xE000 + 13 * 94 + (lead - 0xA1) * 96 + (trail < 0x7F ? trail - 0x40 : trail - 0x41);
  }
  return std::nullopt;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Character by character, for text that the library's table does not cover whole.
std::string DecodeEachCharacter(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    auto byte = static_cast<uint8_t>(text[i]);
    size_t length = IsLeadByte(byte) && i + 1 < text.size() && IsTrailByte(static_cast<uint8_t>(text[i + 1])) ? 2 : 1;
    std::string_view character = text.substr(i, length);
    i += length;
    if (byte < 0x80) {
      out += static_cast<char>(byte);
    } else if (auto special = length == 2 ? UserDefinedCharacter(byte, static_cast<uint8_t>(character[1]))
                                          : std::nullopt) {
      AppendUtf8(out, *special);
    } else if (auto known = SystemCp936ToUtf8(character)) {
      out += *known;
    } else {
      AppendUtf8(out, kUnmappedCp936);
    }
  }
  return out;
}

}  // namespace

std::string Cp936ToUtf8(std::string_view text) {
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(text);
  if (auto whole = SystemCp936ToUtf8(text)) return *whole;
  return DecodeEachCharacter(text);
}

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      ++i;
      continue;
    }
    size_t length;
    unsigned value;
    if (byte >= 0xC2 && byte <= 0xDF) {
      length = 2;
      value = byte & 0x1F;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      length = 3;
      value = byte & 0x0F;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      length = 4;
      value = byte & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
        (value >= 0xD800 && value <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace platform

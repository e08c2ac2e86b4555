#include <iconv.h>

#include <cerrno>
#include <optional>

#include "platform/codepage.h"

namespace platform {
namespace {

// One conversion state per thread: iconv descriptors carry shift state and must not be shared.
class Cp936Decoder {
 public:
  Cp936Decoder() {
    m_cd = iconv_open("UTF-8", "CP936");
    if (m_cd == reinterpret_cast<iconv_t>(-1)) m_cd = iconv_open("UTF-8", "GBK");
  }
  ~Cp936Decoder() {
    if (Usable()) iconv_close(m_cd);
  }
  Cp936Decoder(const Cp936Decoder&) = delete;
  Cp936Decoder& operator=(const Cp936Decoder&) = delete;

  // The whole text, or nothing when any part of it is not in the library's table.
  std::optional<std::string> Decode(std::string_view text) {
    if (!Usable()) return std::nullopt;
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(text.size() * 3 + 4, '\0');  // every 936 character takes at most 3 UTF-8 bytes
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    if (iconv(m_cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) {
      return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
  }

 private:
  bool Usable() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t m_cd;
};

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
std::string DecodeEachCharacter(Cp936Decoder& decoder, std::string_view text) {
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
    } else if (auto known = decoder.Decode(character)) {
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
  thread_local Cp936Decoder decoder;
  if (auto whole = decoder.Decode(text)) return *whole;
  return DecodeEachCharacter(decoder, text);
}

}  // namespace platform

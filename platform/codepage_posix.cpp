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

}  // namespace

std::optional<std::string> SystemCp936ToUtf8(std::string_view text) {
  thread_local Cp936Decoder decoder;
  return decoder.Decode(text);
}

}  // namespace platform

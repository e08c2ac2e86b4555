#include "session/PatchPacket.h"

#include <algorithm>
#include <cstring>

PatchPacket::PatchPacket() : m_readPos(kHeaderSize), m_writePos(kHeaderSize) {
  std::memset(m_buffer, 0, sizeof m_buffer);
}

bool PatchPacket::Read(void* dest, uint32_t n) {
  const uint32_t limit = std::min<uint32_t>(kBufferSize, Length());
  if (n > limit || m_readPos > limit - n) return false;
  std::memcpy(dest, m_buffer + m_readPos, n);
  m_readPos += n;
  return true;
}

bool PatchPacket::ReadU32(int32_t& value) {
  uint8_t b[4];
  value = 0;
  if (!Read(b, 4)) return false;
  value = static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                               static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
  return true;
}

bool PatchPacket::ReadU8(uint8_t& value) {
  value = 0;
  return Read(&value, 1);
}

bool PatchPacket::ReadString(std::string& text) {
  text.clear();
  const uint32_t limit = std::min<uint32_t>(kBufferSize, Length());
  if (m_readPos >= limit) return false;
  const void* zero = std::memchr(m_buffer + m_readPos, 0, limit - m_readPos);
  if (!zero) return false;
  const uint32_t n = static_cast<uint32_t>(static_cast<const uint8_t*>(zero) - (m_buffer + m_readPos)) + 1;
  text.assign(reinterpret_cast<const char*>(m_buffer + m_readPos), n - 1);
  m_readPos += n;
  return true;
}

void PatchPacket::SetLength(uint32_t length) {
  m_buffer[0] = static_cast<uint8_t>(length);
  m_buffer[1] = static_cast<uint8_t>(length >> 8);
}

void PatchPacket::Prepare(uint16_t type) {
  m_buffer[2] = static_cast<uint8_t>(type);
  m_buffer[3] = static_cast<uint8_t>(type >> 8);
  SetLength(kHeaderSize);
  m_readPos = m_writePos = kHeaderSize;
}

bool PatchPacket::Write(const void* src, uint32_t n) {
  if (n > kBufferSize - m_writePos) return false;
  std::memcpy(m_buffer + m_writePos, src, n);
  m_writePos += n;
  SetLength(m_writePos);
  return true;
}

bool PatchPacket::WriteU32(uint32_t value) {
  uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 24)};
  return Write(b, 4);
}

bool PatchPacket::WriteString(const std::string& text) { return Write(text.c_str(), static_cast<uint32_t>(text.size()) + 1); }

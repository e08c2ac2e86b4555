// One protocol frame in a fixed 4096-byte buffer: u16 length (header included), u16 type, body.
// Numbers are little-endian; strings are zero-terminated with no length prefix.
#pragma once
#include <cstdint>
#include <string>

class PatchPacket {
 public:
  static constexpr uint32_t kBufferSize = 4096;
  static constexpr uint32_t kHeaderSize = 4;

  PatchPacket();

  uint8_t* Buffer() { return m_buffer; }
  const uint8_t* Buffer() const { return m_buffer; }
  uint16_t Length() const { return static_cast<uint16_t>(m_buffer[0] | m_buffer[1] << 8); }
  uint16_t Type() const { return static_cast<uint16_t>(m_buffer[2] | m_buffer[3] << 8); }

  // Moves n bytes from the read cursor, but only when they lie within both the buffer and the
  // frame's length; otherwise nothing moves and false is returned.
  bool Read(void* dest, uint32_t n);
  // A refused read leaves 0 / the empty text.
  bool ReadU32(int32_t& value);
  bool ReadU8(uint8_t& value);
  // The zero is looked for within the frame only; a text without it is refused.
  bool ReadString(std::string& text);

  // Makes a header-only frame of `type`, ready to hand to Send.
  void Prepare(uint16_t type);
  // Appends to the body and keeps the length field in step (frames built by tests and tools).
  bool Write(const void* src, uint32_t n);
  bool WriteU32(uint32_t value);
  bool WriteString(const std::string& text);

 private:
  void SetLength(uint32_t length);
  uint8_t m_buffer[kBufferSize];
  uint32_t m_readPos;
  uint32_t m_writePos;
};

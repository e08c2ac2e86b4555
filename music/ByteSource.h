// Positioned reads from a file or from memory, so that the readers of untrusted music data work the
// same on both and can be fed arbitrary bytes.
#pragma once
#include <cstddef>
#include <cstdint>

class CRawFile;

class IByteSource {
 public:
  virtual ~IByteSource() = default;
  virtual uint64_t Length() const = 0;
  // Bytes read at `offset`: fewer than `count` at the end, 0 when the offset cannot be reached.
  virtual uint32_t ReadAt(uint64_t offset, void* buffer, uint32_t count) = 0;
};

class CMemorySource : public IByteSource {
 public:
  CMemorySource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint64_t Length() const override { return m_size; }
  uint32_t ReadAt(uint64_t offset, void* buffer, uint32_t count) override;

 private:
  const uint8_t* m_data;
  size_t m_size;
};

// Reads through an open CRawFile. Its length is taken once, so that counts read from the file are
// bounded against one fixed size; a read that follows the previous one needs no seek.
class CRawFileSource : public IByteSource {
 public:
  explicit CRawFileSource(CRawFile& file);
  uint64_t Length() const override { return m_length; }
  uint32_t ReadAt(uint64_t offset, void* buffer, uint32_t count) override;

 private:
  CRawFile& m_file;
  uint64_t m_length;
  uint64_t m_position = UINT64_MAX;
};

#include "music/ByteSource.h"

#include <cstring>
#include <limits>

#include "music/RawFile.h"

uint32_t CMemorySource::ReadAt(uint64_t offset, void* buffer, uint32_t count) {
  if (offset >= m_size) return 0;
  uint64_t available = m_size - offset;
  uint32_t n = available < count ? uint32_t(available) : count;
  std::memcpy(buffer, m_data + offset, n);
  return n;
}

CRawFileSource::CRawFileSource(CRawFile& file) : m_file(file), m_length(file.Length()) {}

uint32_t CRawFileSource::ReadAt(uint64_t offset, void* buffer, uint32_t count) {
  if (offset != m_position) {
    // The file's seek takes a signed 32-bit distance; farther offsets cannot be reached.
    if (offset > uint64_t(std::numeric_limits<int32_t>::max())) return 0;
    if (m_file.Seek(int32_t(offset), platform::kFileBegin) != uint32_t(offset)) {
      m_position = UINT64_MAX;
      return 0;
    }
  }
  uint32_t n = m_file.Read(buffer, count);
  m_position = offset + n;
  return n;
}

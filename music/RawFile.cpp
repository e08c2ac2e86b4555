#include "music/RawFile.h"

#include "music/PieceTransfer.h"

bool CRawFile::Open(const char* name, uint32_t access, uint32_t share, uint32_t disposition) {
  Close();
  return m_file.Open(name, access, share, disposition);
}

bool CRawFile::OpenRead(const char* name) {
  return Open(name, platform::kGenericRead, platform::kShareRead, platform::kOpenExisting);
}

void CRawFile::OpenWrite(const char* name, int mode) {
  const uint32_t access = platform::kGenericRead | platform::kGenericWrite;
  if (mode == 1) {
    Open(name, access, platform::kShareNone, platform::kCreateAlways);
    return;
  }
  Open(name, access, platform::kShareNone, platform::kOpenAlways);
  if (mode == 2) SeekToEnd();
}

uint32_t CRawFile::Read(void* buffer, uint32_t count) {
  if (!m_file.IsOpen()) return 0;
  return TransferWithPieceFallback(static_cast<uint8_t*>(buffer), count,
                                   [this](uint8_t* p, uint32_t n) { return m_file.Read(p, n); });
}

uint32_t CRawFile::Write(const void* buffer, uint32_t count) {
  if (!m_file.IsOpen()) return 0;
  return TransferWithPieceFallback(static_cast<const uint8_t*>(buffer), count,
                                   [this](const uint8_t* p, uint32_t n) { return m_file.Write(p, n); });
}

uint32_t CRawFile::Seek(int32_t distance, uint32_t method) {
  if (!m_file.IsOpen()) return 0;
  int64_t position = m_file.Seek(distance, method);
  if (position < 0) return 0xFFFFFFFFu;
  return uint32_t(uint64_t(position));
}

void CRawFile::SeekToEnd() {
  if (m_file.IsOpen()) Seek(0, platform::kFileEnd);
}

void CRawFile::Close() {
  if (m_file.IsOpen()) m_file.Close();
}

uint64_t CRawFile::Length() const {
  if (!m_file.IsOpen()) return 0;
  int64_t size = m_file.Size();
  return size < 0 ? 0 : uint64_t(size);
}

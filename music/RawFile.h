// A thin wrapper of one file handle with a few fixed open modes. No buffering: each Read and Write
// goes straight to the handle.
#pragma once
#include <cstdint>

#include "platform/files.h"

class CRawFile {
 public:
  CRawFile() = default;
  // Closes a handle still held; callers close explicitly before the object goes away anyway.
  virtual ~CRawFile() = default;
  CRawFile(const CRawFile&) = delete;
  CRawFile& operator=(const CRawFile&) = delete;

  // Closes a file already held, then opens `name` with CreateFile's access, sharing and disposition.
  bool Open(const char* name, uint32_t access, uint32_t share, uint32_t disposition);
  // Read access, shared with other readers only; the file must exist.
  bool OpenRead(const char* name);
  // Read and write access without sharing. Mode 1 creates or truncates; any other mode opens or
  // creates, keeping the content, and mode 2 then moves to the end. A failed open shows only as
  // later calls failing.
  void OpenWrite(const char* name, int mode);

  // Bytes moved, 0 on failure or without an open file.
  uint32_t Read(void* buffer, uint32_t count);
  uint32_t Write(const void* buffer, uint32_t count);
  // The new position's low 32 bits; 0xFFFFFFFF when the move fails, 0 without an open file.
  uint32_t Seek(int32_t distance, uint32_t method);
  void SeekToEnd();
  void Close();

  bool IsOpen() const { return m_file.IsOpen(); }
  // The file's length, for bounding counts that come from its content; 0 without an open file.
  uint64_t Length() const;

 private:
  platform::FileHandle m_file;
};

// The patch archives' own reader: the end record in the file's last 22 bytes, the central
// directory right in front of it, entries stored or deflated (raw deflate through zlib).
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CZipReader {
 public:
  // Receives an entry's bytes in order; returning false stops the extraction as a failure.
  using Sink = std::function<bool(const uint8_t* data, size_t size)>;

  // Stored names are at most this long, so a name and its NUL fit a MAX_PATH buffer.
  static constexpr size_t kMaxNameLength = 259;

  CZipReader() = default;
  ~CZipReader() { Close(); }
  CZipReader(const CZipReader&) = delete;
  CZipReader& operator=(const CZipReader&) = delete;

  // 0 on success, 1 on failure. The reader never closes `stream`. Open reads every local header
  // and refuses the archive unless every entry can be extracted as far as headers tell: stored or
  // deflated, not encrypted, no ZIP64, local headers that agree with the directory, data
  // descriptors (where flagged) that agree with it too, no bytes of one entry (header, data,
  // descriptor) overlapping another's or the directory, no folder entry with data, and declared
  // sizes no more than deflate can give for the archive's size. So an archive that is opened
  // fails to extract only for damaged data, which the CRC finds.
  int Open(FILE* stream);
  void Close();

  // Why the last Open refused the archive, as a short phrase ("" after a success), and the
  // stored name ('\' separated) of the entry it concerns ("" when it is the whole archive). The
  // publishing tool reports these; the client needs only the verdict.
  const std::string& RefusalReason() const { return m_refusal; }
  const std::string& RefusedEntryName() const { return m_refusedName; }

  int GetEntryCount() const { return m_nEntries; }
  // The name's bytes with '/' turned into '\' and a NUL behind; "" for a bad index. `dest` must
  // hold kMaxNameLength + 1 bytes.
  void GetEntryName(int index, char* dest) const;
  std::string_view GetEntryNameBytes(int index) const;
  // Whether the name is marked as UTF-8 (general purpose bit 11); otherwise it is code page 936.
  bool IsEntryNameUtf8(int index) const;
  // The uncompressed size from the directory, or -1 for a bad index.
  int64_t GetEntrySize(int index) const;

  // Whole-entry form: `dest` holds GetEntrySize bytes. 0 on success, 1 on failure.
  int ExtractEntry(int index, unsigned char* dest);
  // Streaming form with memory bounded by a few hundred KiB whatever the entry's size. The data
  // is checked against the directory's CRC-32 and sizes; a mismatch is a failure (1), reported
  // only after the sink has seen the bytes, so a sink must treat its output as provisional.
  int ExtractEntryTo(int index, const Sink& sink);

 private:
  const uint8_t* Record(int index) const { return m_directory.data() + m_entryOffsets[index]; }
  bool ValidIndex(int index) const { return index >= 0 && index < m_nEntries; }
  int CopyStored(uint64_t size, uint32_t crc, const Sink& sink);
  int Inflate(uint64_t compressedSize, uint64_t size, uint32_t crc, const Sink& sink);

  int Refuse(std::string reason, std::string_view entryName = {});

  FILE* m_pStream = nullptr;
  std::vector<uint8_t> m_directory;       // the whole central directory
  std::vector<uint32_t> m_entryOffsets;   // each entry's record inside m_directory
  std::vector<uint64_t> m_dataOffsets;    // where each entry's data starts in the archive
  int32_t m_nEntries = 0;
  std::string m_refusal;
  std::string m_refusedName;
};

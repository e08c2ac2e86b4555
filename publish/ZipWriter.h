// Writes patch archives that the client's own reader takes: entries deflated (raw deflate) or
// stored when deflating gains nothing, '/' separated names, the UTF-8 flag on non-ASCII names,
// real sizes in every local header, no data descriptors, no comment, no ZIP64.
#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace publish {

// An entry name as stored: '/' separated bytes, and whether bit 11 (UTF-8) must be set.
struct StoredName {
  std::string bytes;
  bool utf8 = false;
};

// The stored name of a game-tree path ('/' separated, UTF-8), or nothing with `why` filled when
// the client would refuse the name or could not tell it apart from another.
std::optional<StoredName> StoredEntryName(std::string_view relativePath, std::string& why);

// The largest entry and archive the client's 32-bit fields and signed listed sizes can carry.
constexpr uint64_t kMaxArchiveBytes = (uint64_t{1} << 31) - 1;
constexpr int kMaxEntries = 0xFFFF;

class ZipWriter {
 public:
  ZipWriter() = default;
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  bool Create(const std::string& path);
  // Appends the bytes of `sourcePath` under `name`. False (with `why`) on a read or write failure
  // or an entry too large for the format; the archive then holds the entries added before.
  bool AddFile(const StoredName& name, const std::string& sourcePath, std::string& why);
  // Takes the entry added last out again, as if it had never been added.
  bool DropLast();
  // Entries and bytes so far, and the size the archive would have if finished now.
  int EntryCount() const { return static_cast<int>(m_entries.size()); }
  uint64_t FinishedSize() const;
  // Writes the central directory and the end record and closes the file.
  bool Finish();

 private:
  struct Entry {
    StoredName name;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t offset = 0;
  };
  bool WriteData(FILE* source, Entry& entry, bool deflate, std::string& why);
  bool Truncate(uint64_t size);

  std::string m_path;
  FILE* m_file = nullptr;
  uint64_t m_size = 0;
  std::vector<Entry> m_entries;
};

}  // namespace publish

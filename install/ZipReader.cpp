#include "install/ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "common/Bytes.h"
#include "install/ZipFormat.h"
#include "platform/files.h"

namespace {

using namespace zip_format;

constexpr size_t kInputChunk = 64 * 1024;
constexpr size_t kOutputChunk = 256 * 1024;
// Deflate cannot expand data by more than about 1032 : 1 (a 258-byte match costs at least two
// bits), so declared sizes beyond that for the whole archive cannot be true.
constexpr uint64_t kMaxExpansion = 1032;

bool ReadExact(FILE* stream, void* buffer, size_t size) { return size == 0 || fread(buffer, 1, size, stream) == size; }

// Where an entry's bytes lie in the archive: its local header, name, extra field and data.
struct DataRange {
  uint64_t begin;
  uint64_t end;
};

// A folder entry (or one without a name) writes no file, so it has no data to carry.
bool IsFolderName(const uint8_t* name, size_t length) { return length == 0 || name[length - 1] == '\\'; }

// Refuses what a sound archive never holds and a crafted one uses to make the unpack write far
// more than it was sent: entries whose bytes overlap one another or the central directory (the
// same data named by many records), folder entries with data, and declared sizes that deflate
// could not produce from an archive of this size. Checked before anything is written.
bool LayoutIsSound(FILE* stream, const std::vector<uint8_t>& directory, const std::vector<uint32_t>& offsets,
                   uint64_t directoryStart, uint64_t archiveSize) {
  std::vector<DataRange> ranges;
  ranges.reserve(offsets.size());
  uint64_t declared = 0;
  for (uint32_t offset : offsets) {
    const uint8_t* record = directory.data() + offset;
    uint32_t compressedSize = LoadU32(record + 20);
    uint32_t size = LoadU32(record + 24);
    if (IsFolderName(record + kDirectoryRecordSize, LoadU16(record + 28)) && (compressedSize != 0 || size != 0)) {
      return false;
    }
    declared += size;
    uint64_t begin = LoadU32(record + 42);
    uint8_t local[kLocalRecordSize] = {};
    if (begin + kLocalRecordSize > directoryStart || !platform::SeekStdio(stream, static_cast<int64_t>(begin), SEEK_SET) ||
        !ReadExact(stream, local, sizeof local) || LoadU32(local) != kLocalSignature) {
      return false;
    }
    uint64_t end = begin + kLocalRecordSize + LoadU16(local + 26) + LoadU16(local + 28) + compressedSize;
    if (end > directoryStart) return false;
    ranges.push_back({begin, end});
  }
  if (declared > kMaxExpansion * archiveSize) return false;
  std::sort(ranges.begin(), ranges.end(), [](const DataRange& a, const DataRange& b) { return a.begin < b.begin; });
  for (size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i].begin < ranges[i - 1].end) return false;
  }
  return true;
}

}  // namespace

int CZipReader::Open(FILE* stream) {
  Close();
  if (!stream) return 1;
  if (!platform::SeekStdio(stream, -static_cast<int64_t>(kEndRecordSize), SEEK_END)) return 1;
  int64_t endPosition = platform::TellStdio(stream);
  uint8_t end[kEndRecordSize] = {};
  if (endPosition < 0 || !ReadExact(stream, end, sizeof end)) return 1;
  // A comment would move the end record away from the last 22 bytes; one that claims a comment
  // while sitting there is as wrong.
  if (LoadU32(end) != kEndSignature || LoadU16(end + 20) != 0) return 1;
  uint16_t count = LoadU16(end + 8);
  uint32_t directorySize = LoadU32(end + 12);
  if (directorySize > static_cast<uint64_t>(endPosition)) return 1;
  if (!platform::SeekStdio(stream, endPosition - static_cast<int64_t>(directorySize), SEEK_SET)) return 1;

  std::vector<uint8_t> directory;
  std::vector<uint32_t> offsets;
  try {
    directory.assign(directorySize, 0);
    offsets.reserve(count);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  if (!ReadExact(stream, directory.data(), directorySize)) return 1;

  size_t position = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (directorySize - position < kDirectoryRecordSize) return 1;
    uint8_t* record = directory.data() + position;
    if (LoadU32(record) != kDirectorySignature) return 1;
    size_t nameLength = LoadU16(record + 28);
    size_t recordSize = kDirectoryRecordSize + nameLength + LoadU16(record + 30) + LoadU16(record + 32);
    if (nameLength > kMaxNameLength || directorySize - position < recordSize) return 1;
    for (size_t k = 0; k < nameLength; ++k) {
      if (record[kDirectoryRecordSize + k] == '/') record[kDirectoryRecordSize + k] = '\\';
    }
    offsets.push_back(static_cast<uint32_t>(position));
    position += recordSize;
  }
  const uint64_t directoryStart = static_cast<uint64_t>(endPosition) - directorySize;
  if (!LayoutIsSound(stream, directory, offsets, directoryStart, static_cast<uint64_t>(endPosition) + kEndRecordSize)) {
    return 1;
  }
  m_directory = std::move(directory);
  m_entryOffsets = std::move(offsets);
  m_nEntries = count;
  m_pStream = stream;
  return 0;
}

void CZipReader::Close() {
  m_directory = {};
  m_entryOffsets = {};
  m_nEntries = 0;
  m_pStream = nullptr;
}

std::string_view CZipReader::GetEntryNameBytes(int index) const {
  if (!ValidIndex(index)) return {};
  const uint8_t* record = Record(index);
  return {reinterpret_cast<const char*>(record + kDirectoryRecordSize), LoadU16(record + 28)};
}

void CZipReader::GetEntryName(int index, char* dest) const {
  if (!dest) return;
  std::string_view name = GetEntryNameBytes(index);
  if (!name.empty()) std::memcpy(dest, name.data(), name.size());
  dest[name.size()] = '\0';
}

bool CZipReader::IsEntryNameUtf8(int index) const {
  return ValidIndex(index) && (LoadU16(Record(index) + 8) & kFlagUtf8Name) != 0;
}

int64_t CZipReader::GetEntrySize(int index) const {
  return ValidIndex(index) ? static_cast<int64_t>(LoadU32(Record(index) + 24)) : -1;
}

int CZipReader::ExtractEntry(int index, unsigned char* dest) {
  if (!dest || !ValidIndex(index)) return 1;
  uint64_t capacity = LoadU32(Record(index) + 24);
  uint64_t filled = 0;
  return ExtractEntryTo(index, [&](const uint8_t* data, size_t size) {
    if (size > capacity - filled) return false;
    std::memcpy(dest + filled, data, size);
    filled += size;
    return true;
  });
}

int CZipReader::ExtractEntryTo(int index, const Sink& sink) {
  if (!ValidIndex(index) || !m_pStream) return 1;
  const uint8_t* record = Record(index);
  uint32_t crc = LoadU32(record + 16);
  uint32_t compressedSize = LoadU32(record + 20);
  uint32_t size = LoadU32(record + 24);

  if (!platform::SeekStdio(m_pStream, LoadU32(record + 42), SEEK_SET)) return 1;
  uint8_t local[kLocalRecordSize] = {};
  if (!ReadExact(m_pStream, local, sizeof local) || LoadU32(local) != kLocalSignature) return 1;
  uint16_t flags = LoadU16(local + 6);
  uint16_t method = LoadU16(local + 8);
  // The local header must carry the real sizes, and they must be the directory's: data
  // descriptors, encryption and disagreeing headers are all refused rather than guessed at.
  if ((flags & kFlagEncrypted) || LoadU32(local + 18) != compressedSize || LoadU32(local + 22) != size) return 1;
  if (!platform::SeekStdio(m_pStream, LoadU16(local + 26) + LoadU16(local + 28), SEEK_CUR)) return 1;

  if (method == kMethodStored) return compressedSize == size ? CopyStored(size, crc, sink) : 1;
  if (method == kMethodDeflated) return Inflate(compressedSize, size, crc, sink);
  return 1;
}

int CZipReader::CopyStored(uint64_t size, uint32_t crc, const Sink& sink) {
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kInputChunk]);
  if (!buffer) return 1;
  uint32_t actual = 0;
  for (uint64_t left = size; left > 0;) {
    size_t chunk = left < kInputChunk ? static_cast<size_t>(left) : kInputChunk;
    if (!ReadExact(m_pStream, buffer.get(), chunk)) return 1;
    actual = static_cast<uint32_t>(crc32(actual, buffer.get(), static_cast<uInt>(chunk)));
    if (!sink(buffer.get(), chunk)) return 1;
    left -= chunk;
  }
  return actual == crc ? 0 : 1;
}

int CZipReader::Inflate(uint64_t compressedSize, uint64_t size, uint32_t crc, const Sink& sink) {
  std::unique_ptr<uint8_t[]> input(new (std::nothrow) uint8_t[kInputChunk]);
  std::unique_ptr<uint8_t[]> output(new (std::nothrow) uint8_t[kOutputChunk]);
  if (!input || !output) return 1;
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return 1;
  struct InflateEnd {
    z_stream* z;
    ~InflateEnd() { inflateEnd(z); }
  } end{&z};

  uint64_t inputLeft = compressedSize;
  uint64_t produced = 0;
  uint32_t actual = 0;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (z.avail_in == 0 && inputLeft > 0) {
      size_t chunk = inputLeft < kInputChunk ? static_cast<size_t>(inputLeft) : kInputChunk;
      if (!ReadExact(m_pStream, input.get(), chunk)) return 1;
      z.next_in = input.get();
      z.avail_in = static_cast<uInt>(chunk);
      inputLeft -= chunk;
    }
    z.next_out = output.get();
    z.avail_out = static_cast<uInt>(kOutputChunk);
    status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return 1;
    size_t got = kOutputChunk - z.avail_out;
    if (got > size - produced) return 1;  // more data than the directory declares
    if (got > 0) {
      actual = static_cast<uint32_t>(crc32(actual, output.get(), static_cast<uInt>(got)));
      if (!sink(output.get(), got)) return 1;
      produced += got;
    }
    // No progress with every compressed byte given: the stream is cut short.
    if (status == Z_BUF_ERROR && got == 0 && z.avail_in == 0 && inputLeft == 0) return 1;
  }
  // The stream must end exactly where the declared sizes say, and the bytes must be the right ones.
  if (produced != size || inputLeft != 0 || z.avail_in != 0) return 1;
  return actual == crc ? 0 : 1;
}

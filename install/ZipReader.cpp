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

bool ReadAt(FILE* stream, uint64_t offset, void* buffer, size_t size) {
  return platform::SeekStdio(stream, static_cast<int64_t>(offset), SEEK_SET) && ReadExact(stream, buffer, size);
}

// Where an entry's bytes lie in the archive: its local header, name, extra field, data and data
// descriptor.
struct DataRange {
  uint64_t begin;
  uint64_t end;
};

// A folder entry (or one without a name) writes no file, so it has no data to carry.
bool IsFolderName(const uint8_t* name, size_t length) { return length == 0 || name[length - 1] == '\\'; }

bool HasZip64Extra(const uint8_t* extra, size_t length) {
  for (size_t at = 0; at + 4 <= length; at += 4 + LoadU16(extra + at + 2)) {
    if (LoadU16(extra + at) == kZip64ExtraId) return true;
  }
  return false;
}

// What the directory says about one entry, which is all that extraction goes by.
struct Declared {
  uint16_t flags;
  uint16_t method;
  uint32_t crc;
  uint32_t compressedSize;
  uint32_t size;
  uint64_t localOffset;
};

// A local header field that a data descriptor stands in for: writers leave it 0 or fill it in.
bool AgreesOrLeftOut(uint32_t local, uint32_t declared, bool described) {
  return local == declared || (described && local == 0);
}

// The length of the data descriptor at `offset` that repeats the directory's CRC and sizes: 16
// with its signature, 12 without; 0 when no such descriptor is there before `limit`.
size_t DescriptorLength(FILE* stream, uint64_t offset, uint64_t limit, const Declared& entry) {
  uint8_t bytes[kDescriptorSize + 4] = {};
  const size_t available = static_cast<size_t>(std::min<uint64_t>(sizeof bytes, limit - offset));
  if (available < kDescriptorSize || !ReadAt(stream, offset, bytes, available)) return 0;
  auto repeats = [&](const uint8_t* p) {
    return LoadU32(p) == entry.crc && LoadU32(p + 4) == entry.compressedSize && LoadU32(p + 8) == entry.size;
  };
  if (available == sizeof bytes && LoadU32(bytes) == kDescriptorSignature && repeats(bytes + 4)) return sizeof bytes;
  return repeats(bytes) ? kDescriptorSize : 0;
}

// Whether the entry can be extracted as the headers describe it, with where its bytes lie and its
// data starts; otherwise the reason. Everything extraction relies on is settled here, before the
// first entry is written, so that an archive that cannot be unpacked whole writes nothing.
const char* CheckEntry(FILE* stream, const uint8_t* record, uint64_t directoryStart, DataRange& range,
                       uint64_t& dataOffset) {
  const Declared entry{LoadU16(record + 8),  LoadU16(record + 10), LoadU32(record + 16),
                       LoadU32(record + 20), LoadU32(record + 24), LoadU32(record + 42)};
  const uint8_t* name = record + kDirectoryRecordSize;
  const size_t nameLength = LoadU16(record + 28);
  const bool described = (entry.flags & kFlagDataDescriptor) != 0;
  if (entry.flags & kFlagEncrypted) return "is encrypted";
  if (entry.flags & ~(kFlagDeflateOptions | kFlagDataDescriptor | kFlagUtf8Name)) {
    return "has general purpose flags the client does not know (strong encryption, patch data)";
  }
  if (entry.method == kMethodDeflate64) return "is compressed with Deflate64 (only stored and deflated are unpacked)";
  if (entry.method != kMethodStored && entry.method != kMethodDeflated) {
    return "uses a compression method other than stored and deflated";
  }
  if (entry.compressedSize == kZip64Marker || entry.size == kZip64Marker || entry.localOffset == kZip64Marker ||
      HasZip64Extra(name + nameLength, LoadU16(record + 30))) {
    return "has ZIP64 fields, which the client does not read";
  }
  if (IsFolderName(name, nameLength) && (entry.compressedSize != 0 || entry.size != 0)) {
    return "is a folder entry that carries data";
  }
  if (entry.method == kMethodStored && entry.compressedSize != entry.size) {
    return "is stored, but its compressed size differs from its size";
  }
  if (entry.method == kMethodDeflated && entry.compressedSize == 0) return "is deflated, but has no data";

  uint8_t local[kLocalRecordSize] = {};
  if (entry.localOffset + kLocalRecordSize > directoryStart ||
      !ReadAt(stream, entry.localOffset, local, sizeof local) || LoadU32(local) != kLocalSignature) {
    return "has no local header where the directory says";
  }
  const size_t localNameLength = LoadU16(local + 26);
  const size_t localExtraLength = LoadU16(local + 28);
  if (LoadU16(local + 6) != entry.flags || LoadU16(local + 8) != entry.method ||
      !AgreesOrLeftOut(LoadU32(local + 14), entry.crc, described) ||
      !AgreesOrLeftOut(LoadU32(local + 18), entry.compressedSize, described) ||
      !AgreesOrLeftOut(LoadU32(local + 22), entry.size, described) || localNameLength != nameLength) {
    return "has a local header that disagrees with the directory (flags, method, CRC, sizes or name)";
  }
  const uint64_t nameOffset = entry.localOffset + kLocalRecordSize;
  dataOffset = nameOffset + localNameLength + localExtraLength;
  if (dataOffset > directoryStart) return "has a local header that runs into the directory";
  uint8_t localName[CZipReader::kMaxNameLength] = {};
  std::vector<uint8_t> localExtra(localExtraLength);
  if (!ReadAt(stream, nameOffset, localName, nameLength) || !ReadExact(stream, localExtra.data(), localExtraLength)) {
    return "has a local header that cannot be read";
  }
  for (size_t k = 0; k < nameLength; ++k) {
    // The directory's copy already has '\' for '/'.
    if ((localName[k] == '/' ? '\\' : localName[k]) != name[k]) {
      return "has a local header that disagrees with the directory (flags, method, CRC, sizes or name)";
    }
  }
  if (HasZip64Extra(localExtra.data(), localExtraLength)) return "has ZIP64 fields, which the client does not read";
  uint64_t end = dataOffset + entry.compressedSize;
  if (end > directoryStart) return "has data that runs into the directory";
  if (described) {
    const size_t descriptor = DescriptorLength(stream, end, directoryStart, entry);
    if (descriptor == 0) return "has no data descriptor behind its data that agrees with the directory";
    end += descriptor;
  }
  range = {entry.localOffset, end};
  return nullptr;
}

}  // namespace

int CZipReader::Refuse(std::string reason, std::string_view entryName) {
  m_refusal = std::move(reason);
  m_refusedName = std::string(entryName);
  return 1;
}

int CZipReader::Open(FILE* stream) {
  Close();
  if (!stream) return Refuse("cannot be read");
  if (!platform::SeekStdio(stream, -static_cast<int64_t>(kEndRecordSize), SEEK_END)) return Refuse("is too short");
  int64_t endPosition = platform::TellStdio(stream);
  uint8_t end[kEndRecordSize] = {};
  if (endPosition < 0 || !ReadExact(stream, end, sizeof end)) return Refuse("cannot be read");
  // A comment would move the end record away from the last 22 bytes; one that claims a comment
  // while sitting there is as wrong.
  if (LoadU32(end) != kEndSignature || LoadU16(end + 20) != 0) {
    return Refuse("has no end record in its last 22 bytes (no archive, or one with a comment)");
  }
  uint16_t count = LoadU16(end + 8);
  uint32_t directorySize = LoadU32(end + 12);
  if (directorySize > static_cast<uint64_t>(endPosition)) return Refuse("has a directory larger than the archive");
  const uint64_t directoryStart = static_cast<uint64_t>(endPosition) - directorySize;
  // The directory sits right in front of the end record: anything else between them is a ZIP64
  // end record or a spanned archive's, neither of which the client reads.
  if (LoadU16(end + 4) != 0 || LoadU16(end + 6) != 0 || LoadU16(end + 10) != count ||
      LoadU32(end + 16) != directoryStart) {
    return Refuse("is a ZIP64 or multi-part archive, or its directory is not right before its end record");
  }
  if (!platform::SeekStdio(stream, static_cast<int64_t>(directoryStart), SEEK_SET)) return Refuse("cannot be read");

  std::vector<uint8_t> directory;
  std::vector<uint32_t> offsets;
  std::vector<uint64_t> dataOffsets;
  std::vector<DataRange> ranges;
  try {
    directory.assign(directorySize, 0);
    offsets.reserve(count);
    dataOffsets.reserve(count);
    ranges.reserve(count);
  } catch (const std::bad_alloc&) {
    return Refuse("has a directory too large to read");
  }
  if (!ReadExact(stream, directory.data(), directorySize)) return Refuse("cannot be read");

  size_t position = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (directorySize - position < kDirectoryRecordSize) return Refuse("has a directory cut short");
    uint8_t* record = directory.data() + position;
    if (LoadU32(record) != kDirectorySignature) return Refuse("has a damaged directory");
    size_t nameLength = LoadU16(record + 28);
    size_t recordSize = kDirectoryRecordSize + nameLength + LoadU16(record + 30) + LoadU16(record + 32);
    if (directorySize - position < recordSize) return Refuse("has a directory cut short");
    for (size_t k = 0; k < nameLength; ++k) {
      if (record[kDirectoryRecordSize + k] == '/') record[kDirectoryRecordSize + k] = '\\';
    }
    const std::string_view name(reinterpret_cast<const char*>(record + kDirectoryRecordSize), nameLength);
    if (nameLength > kMaxNameLength) {
      return Refuse("has a name longer than the " + std::to_string(kMaxNameLength) + " bytes the client reads", name);
    }
    DataRange range{};
    uint64_t dataOffset = 0;
    if (const char* why = CheckEntry(stream, record, directoryStart, range, dataOffset)) return Refuse(why, name);
    offsets.push_back(static_cast<uint32_t>(position));
    dataOffsets.push_back(dataOffset);
    ranges.push_back(range);
    position += recordSize;
  }

  // A sound archive never holds what a crafted one uses to make the unpack write far more than it
  // was sent: entries whose bytes overlap one another (the same data named by many records), and
  // declared sizes that deflate could not produce from an archive of this size.
  uint64_t declared = 0;
  for (uint32_t offset : offsets) declared += LoadU32(directory.data() + offset + 24);
  if (declared > kMaxExpansion * (static_cast<uint64_t>(endPosition) + kEndRecordSize)) {
    return Refuse("declares more data than deflate can give from an archive of its size");
  }
  std::sort(ranges.begin(), ranges.end(), [](const DataRange& a, const DataRange& b) { return a.begin < b.begin; });
  for (size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i].begin < ranges[i - 1].end) return Refuse("has entries whose bytes overlap");
  }
  m_directory = std::move(directory);
  m_entryOffsets = std::move(offsets);
  m_dataOffsets = std::move(dataOffsets);
  m_nEntries = count;
  m_pStream = stream;
  return 0;
}

void CZipReader::Close() {
  m_directory = {};
  m_entryOffsets = {};
  m_dataOffsets = {};
  m_refusal.clear();
  m_refusedName.clear();
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

  // Open has checked the local header against the directory; the data is where it said.
  if (!platform::SeekStdio(m_pStream, static_cast<int64_t>(m_dataOffsets[index]), SEEK_SET)) return 1;
  const uint16_t method = LoadU16(record + 10);
  return method == kMethodStored ? CopyStored(size, crc, sink) : Inflate(compressedSize, size, crc, sink);
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

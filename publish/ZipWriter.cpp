#include "publish/ZipWriter.h"

#include <zlib.h>

#include <filesystem>
#include <memory>

#include "install/EntryPaths.h"
#include "install/ZipFormat.h"
#include "install/ZipReader.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace publish {
namespace {

using namespace zip_format;

constexpr uint16_t kVersionNeeded = 20;
// 1980-01-01 00:00, so that the same trees give the same archives.
constexpr uint16_t kDosTime = 0;
constexpr uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;
constexpr size_t kChunk = 256 * 1024;

void Put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool WriteAll(FILE* file, const void* data, size_t size) { return size == 0 || fwrite(data, 1, size, file) == size; }

std::string LocalHeader(const StoredName& name, uint16_t method, uint32_t crc, uint32_t compressed, uint32_t size) {
  std::string h;
  Put32(h, kLocalSignature);
  Put16(h, kVersionNeeded);
  Put16(h, name.utf8 ? kFlagUtf8Name : 0);
  Put16(h, method);
  Put16(h, kDosTime);
  Put16(h, kDosDate);
  Put32(h, crc);
  Put32(h, compressed);
  Put32(h, size);
  Put16(h, static_cast<uint16_t>(name.bytes.size()));
  Put16(h, 0);
  return h + name.bytes;
}

}  // namespace

std::optional<StoredName> StoredEntryName(std::string_view relativePath, std::string& why) {
  if (relativePath.find('\\') != std::string_view::npos) {
    why = "holds a backslash, which the player's system reads as a folder separator";
    return std::nullopt;
  }
  if (!platform::IsValidUtf8(relativePath)) {
    why = "is not valid UTF-8";
    return std::nullopt;
  }
  if (relativePath.size() > CZipReader::kMaxNameLength) {
    why = "is longer than the " + std::to_string(CZipReader::kMaxNameLength) + " bytes the client reads";
    return std::nullopt;
  }
  StoredName name{std::string(relativePath), false};
  for (unsigned char c : name.bytes) name.utf8 |= c >= 0x80;
  if (!EntryPathOf(name.bytes, name.utf8)) {
    why = "is refused by the client: it would leave the game folder or is no Windows name";
    return std::nullopt;
  }
  return name;
}

ZipWriter::~ZipWriter() {
  if (m_file) fclose(m_file);
}

bool ZipWriter::Create(const std::string& path) {
  if (m_file) fclose(m_file);
  m_path = path;
  m_size = 0;
  m_entries.clear();
  m_file = fopen(path.c_str(), "w+b");
  return m_file != nullptr;
}

uint64_t ZipWriter::FinishedSize() const {
  uint64_t size = m_size + kEndRecordSize;
  for (const Entry& entry : m_entries) size += kDirectoryRecordSize + entry.name.bytes.size();
  return size;
}

bool ZipWriter::WriteData(FILE* source, Entry& entry, bool deflate, std::string& why) {
  std::unique_ptr<uint8_t[]> input(new uint8_t[kChunk]);
  std::unique_ptr<uint8_t[]> output(new uint8_t[kChunk]);
  z_stream z{};
  if (deflate && deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    why = "zlib could not start";
    return false;
  }
  struct DeflateEnd {
    z_stream* z;
    bool active;
    ~DeflateEnd() {
      if (active) deflateEnd(z);
    }
  } end{&z, deflate};

  entry.crc = 0;
  entry.size = 0;
  entry.compressedSize = 0;
  bool atEnd = false;
  while (!atEnd) {
    size_t got = fread(input.get(), 1, kChunk, source);
    if (ferror(source)) {
      why = "cannot be read";
      return false;
    }
    atEnd = got < kChunk;
    entry.crc = static_cast<uint32_t>(crc32(entry.crc, input.get(), static_cast<uInt>(got)));
    entry.size += got;
    if (!deflate) {
      if (!WriteAll(m_file, input.get(), got)) {
        why = "cannot be written to the archive";
        return false;
      }
      entry.compressedSize += got;
      continue;
    }
    z.next_in = input.get();
    z.avail_in = static_cast<uInt>(got);
    int status;
    do {
      z.next_out = output.get();
      z.avail_out = static_cast<uInt>(kChunk);
      status = ::deflate(&z, atEnd ? Z_FINISH : Z_NO_FLUSH);
      if (status == Z_STREAM_ERROR) {
        why = "zlib failed";
        return false;
      }
      size_t produced = kChunk - z.avail_out;
      if (!WriteAll(m_file, output.get(), produced)) {
        why = "cannot be written to the archive";
        return false;
      }
      entry.compressedSize += produced;
    } while (z.avail_out == 0 || (atEnd && status != Z_STREAM_END));
  }
  return true;
}

bool ZipWriter::AddFile(const StoredName& name, const std::string& sourcePath, std::string& why) {
  if (!m_file) return false;
  if (EntryCount() >= kMaxEntries) {
    why = "does not fit: the archive holds as many entries as the format counts";
    return false;
  }
  std::error_code error;
  if (std::filesystem::file_size(sourcePath, error) >= kMaxArchiveBytes && !error) {
    why = "is too large for a patch archive";
    return false;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> source(fopen(sourcePath.c_str(), "rb"), fclose);
  if (!source) {
    why = "cannot be opened";
    return false;
  }
  Entry entry;
  entry.name = name;
  entry.offset = m_size;
  const uint64_t dataStart = m_size + kLocalRecordSize + name.bytes.size();
  if (!platform::SeekStdio(m_file, static_cast<int64_t>(dataStart), SEEK_SET)) return false;
  entry.method = kMethodDeflated;
  if (!WriteData(source.get(), entry, true, why)) {
    Truncate(entry.offset);
    return false;
  }
  // Data that does not shrink (pictures, sound) is stored: as small, and cheaper to unpack.
  if (entry.compressedSize >= entry.size) {
    rewind(source.get());
    if (!Truncate(dataStart)) return false;
    entry.method = kMethodStored;
    if (!WriteData(source.get(), entry, false, why)) {
      Truncate(entry.offset);
      return false;
    }
  }
  if (entry.size >= kMaxArchiveBytes || dataStart + entry.compressedSize >= kMaxArchiveBytes) {
    why = "is too large for a patch archive";
    Truncate(entry.offset);
    return false;
  }
  std::string header = LocalHeader(name, entry.method, entry.crc, static_cast<uint32_t>(entry.compressedSize),
                                   static_cast<uint32_t>(entry.size));
  if (!platform::SeekStdio(m_file, static_cast<int64_t>(entry.offset), SEEK_SET) ||
      !WriteAll(m_file, header.data(), header.size())) {
    why = "cannot be written to the archive";
    return false;
  }
  m_size = dataStart + entry.compressedSize;
  if (!platform::SeekStdio(m_file, static_cast<int64_t>(m_size), SEEK_SET)) return false;
  m_entries.push_back(std::move(entry));
  return true;
}

bool ZipWriter::Truncate(uint64_t size) {
  if (fflush(m_file) != 0) return false;
  std::error_code error;
  std::filesystem::resize_file(m_path, size, error);
  m_size = size;
  return !error && platform::SeekStdio(m_file, static_cast<int64_t>(size), SEEK_SET);
}

bool ZipWriter::DropLast() {
  if (m_entries.empty()) return false;
  uint64_t offset = m_entries.back().offset;
  m_entries.pop_back();
  return Truncate(offset);
}

bool ZipWriter::Finish() {
  if (!m_file) return false;
  std::string directory;
  for (const Entry& entry : m_entries) {
    Put32(directory, kDirectorySignature);
    Put16(directory, kVersionNeeded);  // made by: MS-DOS, 2.0
    Put16(directory, kVersionNeeded);
    Put16(directory, entry.name.utf8 ? kFlagUtf8Name : 0);
    Put16(directory, entry.method);
    Put16(directory, kDosTime);
    Put16(directory, kDosDate);
    Put32(directory, entry.crc);
    Put32(directory, static_cast<uint32_t>(entry.compressedSize));
    Put32(directory, static_cast<uint32_t>(entry.size));
    Put16(directory, static_cast<uint16_t>(entry.name.bytes.size()));
    Put16(directory, 0);  // extra field
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, 0);  // external attributes
    Put32(directory, static_cast<uint32_t>(entry.offset));
    directory += entry.name.bytes;
  }
  std::string end;
  Put32(end, kEndSignature);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, static_cast<uint16_t>(m_entries.size()));
  Put16(end, static_cast<uint16_t>(m_entries.size()));
  Put32(end, static_cast<uint32_t>(directory.size()));
  Put32(end, static_cast<uint32_t>(m_size));
  Put16(end, 0);  // no comment: the client looks for the end record in the last 22 bytes only
  bool written = platform::SeekStdio(m_file, static_cast<int64_t>(m_size), SEEK_SET) &&
                 WriteAll(m_file, directory.data(), directory.size()) && WriteAll(m_file, end.data(), end.size());
  written = fclose(m_file) == 0 && written;
  m_file = nullptr;
  return written;
}

}  // namespace publish

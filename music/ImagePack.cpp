#include "music/ImagePack.h"

#include <cstring>

#include "common/Ascii.h"
#include "common/Bytes.h"
#include "skin/Dib.h"

namespace {

// Directory entries read per call: the entries are small, and reading them one call each makes
// the lookup in a large pack cost one system call per entry.
constexpr uint32_t kEntriesPerRead = 64;

}  // namespace

bool FindPackPicture(IByteSource& pack, std::string_view name, PackPicture& picture) {
  const uint64_t length = pack.Length();
  uint8_t header[kPackHeaderSize];
  if (pack.ReadAt(0, header, kPackHeaderSize) != kPackHeaderSize) return false;  // counts as empty
  const uint64_t count = LoadU32(header + 4);
  if (count == 0) return false;
  // The directory is the last count × 152 bytes; it cannot reach into the pack header.
  if (count > (length - kPackHeaderSize) / kPackEntrySize) return false;

  uint64_t entryOffset = length - count * kPackEntrySize;
  uint64_t remaining = count;
  bool found = false;
  uint64_t dataOffset = 0;
  std::vector<uint8_t> entries(size_t(kEntriesPerRead) * kPackEntrySize);
  while (remaining > 0 && !found) {
    uint32_t batch = remaining < kEntriesPerRead ? uint32_t(remaining) : kEntriesPerRead;
    uint32_t wanted = batch * kPackEntrySize;
    if (pack.ReadAt(entryOffset, entries.data(), wanted) != wanted) return false;
    for (uint32_t i = 0; i < batch; ++i) {
      const uint8_t* entry = entries.data() + size_t(i) * kPackEntrySize;
      const char* entryName = reinterpret_cast<const char*>(entry + 4);
      if (AsciiEqualNoCase(std::string_view(entryName, strnlen(entryName, kPackNameSize)), name)) {
        dataOffset = LoadU32(entry + 132);
        found = true;
        break;
      }
    }
    entryOffset += wanted;
    remaining -= batch;
  }
  if (!found) return false;

  if (dataOffset > length || length - dataOffset < kPictureHeaderSize + kFrameRecordSize) return false;
  uint8_t pictureHeader[kPictureHeaderSize + kFrameRecordSize];
  if (pack.ReadAt(dataOffset, pictureHeader, sizeof pictureHeader) != sizeof pictureHeader) return false;
  if (LoadU16(pictureHeader + 2) != kPictureFormatTag || LoadU16(pictureHeader + 4) == 0) return false;
  const uint8_t* frame = pictureHeader + kPictureHeaderSize;
  picture.width = LoadU16(frame + 4);
  picture.height = LoadU16(frame + 6);
  picture.pixelOffset = dataOffset + sizeof pictureHeader;
  const uint64_t pixelBytes = 2ull * picture.width * picture.height;
  return pixelBytes <= length - picture.pixelOffset;
}

bool ReadPackPixels(IByteSource& pack, const PackPicture& picture, std::vector<uint16_t>& pixels) {
  const uint64_t count = uint64_t(picture.width) * picture.height;
  if (2 * count > pack.Length() || picture.pixelOffset > pack.Length() - 2 * count) return false;
  if (2 * count > UINT32_MAX) return false;  // one read call moves at most this much
  std::vector<uint8_t> raw(size_t(2 * count));
  if (count > 0 && pack.ReadAt(picture.pixelOffset, raw.data(), uint32_t(raw.size())) != raw.size()) return false;
  pixels.resize(size_t(count));
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = LoadU16(raw.data() + 2 * i);
  return true;
}

bool ConvertPixels(const std::vector<uint16_t>& pixels, int width, int height, CDib& dib) {
  if (width < 0 || height < 0 || pixels.size() < size_t(width) * size_t(height)) return false;
  if (!dib.Create(width, height, 24)) return false;
  CDibRowTable rows(dib);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = rows[y];
    const uint16_t* source = pixels.data() + size_t(y) * size_t(width);
    for (int x = 0; x < width; ++x) {
      uint16_t p = source[x];
      row[3 * x] = uint8_t((p & 0x1F) << 3);
      row[3 * x + 1] = uint8_t(((p >> 5) & 0x1F) << 3);
      row[3 * x + 2] = uint8_t(((p >> 10) & 0x1F) << 3);
    }
  }
  return true;
}

uint32_t ThumbnailBitmapSize(int width, int height) {
  return kBitmapHeadersSize + 3u * uint32_t(width) * uint32_t(height);
}

std::array<uint8_t, kBitmapHeadersSize> ThumbnailBitmapHeaders(int width, int height) {
  constexpr uint32_t kPixelsPerMetre = 3779;  // 96 dots per inch
  std::array<uint8_t, kBitmapHeadersSize> h{};
  uint8_t* p = h.data();
  p[0] = 'B';
  p[1] = 'M';
  StoreU32(p + 2, ThumbnailBitmapSize(width, height));
  StoreU32(p + 10, kBitmapHeadersSize);
  StoreU32(p + 14, 40);
  StoreU32(p + 18, uint32_t(width));
  StoreU32(p + 22, uint32_t(height));
  StoreU16(p + 26, 1);
  StoreU16(p + 28, 24);
  StoreU32(p + 38, kPixelsPerMetre);
  StoreU32(p + 42, kPixelsPerMetre);
  return h;
}

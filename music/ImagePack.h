// The game's image pack: a 16-byte header with the entry count, pictures, and a directory of
// 152-byte entries at the end of the file. Everything in it is untrusted: counts, offsets and
// picture sizes are checked against the pack's length before anything is read or allocated.
#pragma once
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "music/ByteSource.h"

class CDib;

constexpr uint32_t kPackHeaderSize = 16;
constexpr uint32_t kPackEntrySize = 152;
constexpr uint32_t kPackNameSize = 128;
constexpr uint32_t kPictureHeaderSize = 8;
constexpr uint32_t kFrameRecordSize = 20;
constexpr uint16_t kPictureFormatTag = 0x0555;
constexpr uint32_t kBitmapHeadersSize = 54;

struct PackPicture {
  uint16_t width = 0;
  uint16_t height = 0;
  uint64_t pixelOffset = 0;  // W·H little-endian X1R5G5B5 pixels, top row first
};

// Looks up `name` (without regard to case) in the directory, first match wins, and checks the
// picture's header. False when the pack is empty, has no such entry, the picture's tag or frame
// count is wrong, or the directory, the picture header or its pixels do not fit in the pack.
bool FindPackPicture(IByteSource& pack, std::string_view name, PackPicture& picture);

// Reads the picture's W·H pixels; false when they cannot all be read.
bool ReadPackPixels(IByteSource& pack, const PackPicture& picture, std::vector<uint16_t>& pixels);

// Fills a new 24-bit work image of W × H with the pixels, each 5-bit channel widened to the top
// five bits of its byte. False when the image cannot be created.
bool ConvertPixels(const std::vector<uint16_t>& pixels, int width, int height, CDib& dib);

// The 14-byte file header and 40-byte info header of the appended thumbnail bitmap: 24 bits,
// bottom row first, rows of exactly 3·W bytes.
std::array<uint8_t, kBitmapHeadersSize> ThumbnailBitmapHeaders(int width, int height);
uint32_t ThumbnailBitmapSize(int width, int height);

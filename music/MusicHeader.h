// The fixed 300-byte header of every music file, also the record of the server's music list.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>

constexpr uint32_t kMusicHeaderSize = 300;
constexpr uint32_t kExcludedMusicId = 8888;

struct MusicHeader {
  std::array<uint8_t, kMusicHeaderSize> bytes{};

  uint32_t U32(size_t offset) const {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
           uint32_t(bytes[offset + 3]) << 24;
  }
  void SetU32(size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = uint8_t(v >> (8 * i));
  }
  uint32_t MusicId() const { return U32(0); }
  uint8_t HasThumbnail() const { return bytes[99]; }
  uint32_t ThumbnailSize() const { return U32(100); }
  float Version() const {
    uint32_t bits = U32(104);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  uint32_t LastBlockSize() const { return U32(268); }
  uint32_t LastBlockOffset() const { return U32(296); }
};

struct MusicCatalogEntry {
  uint32_t musicId = 0;
  float version = 0.0f;
  uint8_t hasThumbnail = 0;
};

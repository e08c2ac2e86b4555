// Game folders, music files and image packs built by the music tests.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "music/MusicHeader.h"
#include "support/TempDir.h"

namespace musictest {

using Bytes = std::vector<uint8_t>;

inline void PutU16(Bytes& b, size_t at, uint16_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
inline void PutU32(Bytes& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline uint32_t GetU32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
inline uint32_t FloatBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& content) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
}
inline Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A music file: the 300-byte header, then `bodySize` bytes of a recognisable pattern. The last data
// block ends where the file ends unless the caller moves it.
struct MusicFileLayout {
  uint32_t id = 1;
  float version = 1.0f;
  uint8_t hasThumbnail = 0;
  uint32_t bodySize = 700;
  uint32_t lastBlockOffset = 600;
  uint32_t lastBlockSize = 400;
};

inline Bytes MusicFileBytes(const MusicFileLayout& layout) {
  Bytes b(kMusicHeaderSize + layout.bodySize);
  for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i * 7 + 3);  // every header byte is distinct-ish
  PutU32(b, 0, layout.id);
  b[99] = layout.hasThumbnail;
  PutU32(b, 100, 0);
  PutU32(b, 104, FloatBits(layout.version));
  PutU32(b, 268, layout.lastBlockSize);
  PutU32(b, 296, layout.lastBlockOffset);
  return b;
}

// One picture of an image pack.
struct PackPictureLayout {
  std::string name;
  uint16_t width = 0;
  uint16_t height = 0;
  std::vector<uint16_t> pixels;  // width × height, top row first
  uint16_t tag = 0x0555;
  uint16_t frames = 1;
};

// Header (count at 4), the pictures back to back, then the directory of 152-byte entries.
inline Bytes ImagePackBytes(const std::vector<PackPictureLayout>& pictures) {
  Bytes b(16, 0xAB);
  PutU32(b, 4, uint32_t(pictures.size()));
  std::vector<uint32_t> offsets;
  for (const PackPictureLayout& p : pictures) {
    size_t at = b.size();
    offsets.push_back(uint32_t(at));
    b.resize(at + 28, 0xCD);
    PutU16(b, at + 2, p.tag);
    PutU16(b, at + 4, p.frames);
    PutU16(b, at + 8 + 4, p.width);
    PutU16(b, at + 8 + 6, p.height);
    for (uint16_t px : p.pixels) PutU16(b, b.size(), px);
  }
  for (size_t i = 0; i < pictures.size(); ++i) {
    size_t at = b.size();
    b.resize(at + 152, 0);
    std::memcpy(b.data() + at + 4, pictures[i].name.data(), std::min<size_t>(pictures[i].name.size(), 128));
    PutU32(b, at + 132, offsets[i]);
  }
  return b;
}

inline PackPictureLayout SolidPicture(const std::string& name, uint16_t w, uint16_t h, uint16_t pixel) {
  return PackPictureLayout{name, w, h, std::vector<uint16_t>(size_t(w) * h, pixel)};
}

// A fresh folder that is the current directory for the test's duration, as the game folder is.
class GameFolderTest : public ::testing::Test {
 protected:
  TempDir m_dir{"tarvo-music"};
  std::filesystem::path m_root{m_dir.Path()};

 private:
  CurrentFolder m_current{m_root};
};

}  // namespace musictest

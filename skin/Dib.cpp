#include "skin/Dib.h"

#include <cstdlib>
#include <limits>

namespace {

constexpr size_t kInfoHeaderSize = 40;
constexpr size_t kColourTableRoom = 1024;

uint32_t ReadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void WriteU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void WriteU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

}  // namespace

CDib::~CDib() { Free(); }

size_t CDib::RowSize(int width, int bitCount) {
  return ((uint64_t(width) * uint64_t(bitCount) + 31) / 32) * 4;
}

size_t CDib::PixelOffset(const uint8_t* block) {
  uint32_t headerSize = ReadU32(block);
  uint32_t bitCount = uint32_t(block[14]) | uint32_t(block[15]) << 8;
  uint32_t coloursUsed = ReadU32(block + 32);
  uint32_t entries = coloursUsed;
  if (entries == 0) {
    switch (bitCount) {
      case 1: entries = 2; break;
      case 4: entries = 16; break;
      case 8: entries = 256; break;
      default: entries = 0; break;
    }
  }
  return size_t(headerSize) + size_t(entries) * 4;
}

bool CDib::Create(int width, int height, int bitCount) {
  // Negative sizes would mean a top-down image, which this block never holds; a bit count outside
  // 1..32 has no row size. Both are refused rather than allocated wrongly.
  if (m_hDib || width < 0 || height < 0 || bitCount < 1 || bitCount > 32) return false;
  uint64_t rowSize = RowSize(width, bitCount);
  uint64_t tableRoom = bitCount == 24 ? 0 : kColourTableRoom;
  uint64_t pixelBytes = rowSize * uint64_t(height);
  if (pixelBytes > std::numeric_limits<uint32_t>::max()) return false;  // biSizeImage must hold it
  uint64_t blockSize = kInfoHeaderSize + tableRoom + pixelBytes;
  auto* block = static_cast<uint8_t*>(std::calloc(size_t(blockSize), 1));
  if (!block) return false;

  WriteU32(block + 0, kInfoHeaderSize);
  WriteU32(block + 4, uint32_t(width));
  WriteU32(block + 8, uint32_t(height));
  WriteU16(block + 12, 1);
  WriteU16(block + 14, uint16_t(bitCount));
  WriteU32(block + 20, uint32_t(pixelBytes));
  if (bitCount == 8) {
    WriteU32(block + 32, 256);
    for (int i = 0; i < 256; ++i) {
      uint8_t* entry = block + kInfoHeaderSize + size_t(i) * 4;
      entry[0] = entry[1] = entry[2] = uint8_t(i);
    }
  }
  m_hDib = block;
  m_nBlockSize = size_t(blockSize);
  m_nWidth = int(ReadU32(block + 4));
  m_nHeight = int(ReadU32(block + 8));
  return true;
}

void CDib::Free() {
  std::free(m_hDib);
  m_hDib = nullptr;
  m_nBlockSize = 0;
}

int CDib::GetBitCount() const {
  if (!m_hDib) return -1;
  return int(uint32_t(m_hDib[14]) | uint32_t(m_hDib[15]) << 8);
}

CDibRowTable::CDibRowTable(const CDib& dib) : m_hDib(dib.Block()), m_nRows(dib.Block() ? dib.Height() : 0) {
  if (!m_hDib) return;
  m_ppRows.resize(size_t(m_nRows));
  size_t rowSize = CDib::RowSize(dib.Width(), dib.GetBitCount());
  uint8_t* row = m_hDib + CDib::PixelOffset(m_hDib);
  // The block stores the bottom row first.
  for (int y = m_nRows - 1; y >= 0; --y) {
    m_ppRows[size_t(y)] = row;
    row += rowSize;
  }
}

CDibRowTable::~CDibRowTable() = default;

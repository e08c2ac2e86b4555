// An in-memory device-independent bitmap: info header, colour table and pixel rows in one
// zero-filled block, laid out as a BMP file is after its 14-byte file header.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The block of a CDib. Plain zero-filled heap memory serves where Windows used a movable global
// block, so locking and unlocking have nothing to do.
using HDIBBLOCK = uint8_t*;

class CDib {
 public:
  CDib() = default;
  virtual ~CDib();
  CDib(const CDib&) = delete;
  CDib& operator=(const CDib&) = delete;

  // Allocates and fills the block: header, colour table room unless 24 bits (a grey ramp for 8
  // bits), then zeroed rows padded to whole 4-byte words. Returns false, the image staying empty,
  // when the size is unusable or the block cannot be allocated. Called on an empty image only.
  bool Create(int width, int height, int bitCount);
  void Free();
  // biBitCount of the block; -1 for an empty image.
  int GetBitCount() const;

  HDIBBLOCK Block() const { return m_hDib; }
  size_t BlockSize() const { return m_nBlockSize; }
  int Width() const { return m_nWidth; }
  int Height() const { return m_nHeight; }

  // Bytes per stored row for a width and bit count: rounded up to a whole number of 4-byte words.
  static size_t RowSize(int width, int bitCount);
  // Offset of the first pixel row in a block: after the header and the colour table it declares.
  static size_t PixelOffset(const uint8_t* block);

 private:
  HDIBBLOCK m_hDib = nullptr;
  size_t m_nBlockSize = 0;
  int m_nWidth = 1;
  int m_nHeight = 1;
};

// Row access to a created CDib: entry y is image row y counted from the top, so entry 0 is the
// last row stored in the block. It must be destroyed before its image's block is freed.
class CDibRowTable {
 public:
  explicit CDibRowTable(const CDib& dib);
  virtual ~CDibRowTable();
  CDibRowTable(const CDibRowTable&) = delete;
  CDibRowTable& operator=(const CDibRowTable&) = delete;

  uint8_t* operator[](int y) const { return m_ppRows[size_t(y)]; }
  int Rows() const { return m_nRows; }

 private:
  std::vector<uint8_t*> m_ppRows;
  HDIBBLOCK m_hDib = nullptr;
  int m_nRows = 0;
};

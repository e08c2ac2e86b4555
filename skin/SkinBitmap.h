// A picture of the window's skin, loaded from the program's bitmap resources. It draws itself
// whole (the window background) or one of four frames that lie side by side in it, with a key
// colour left transparent (the skinned buttons). The destination is a plain pixel surface, which
// the front end shows; no toolkit is involved.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

using COLORREF = uint32_t;  // 0x00BBGGRR
constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (uint32_t(b) << 16); }
constexpr uint8_t GetRValue(COLORREF c) { return c & 0xFF; }
constexpr uint8_t GetGValue(COLORREF c) { return (c >> 8) & 0xFF; }
constexpr uint8_t GetBValue(COLORREF c) { return (c >> 16) & 0xFF; }

// The drawing destination: a 24-bit surface, one COLORREF per pixel, rows top to bottom.
struct CPixelSurface {
  CPixelSurface() = default;
  CPixelSurface(int width, int height, COLORREF fill = 0)
      : m_nWidth(width), m_nHeight(height), m_pixels(size_t(width) * size_t(height), fill) {}
  COLORREF At(int x, int y) const { return m_pixels[size_t(y) * size_t(m_nWidth) + size_t(x)]; }
  COLORREF& At(int x, int y) { return m_pixels[size_t(y) * size_t(m_nWidth) + size_t(x)]; }
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < m_nWidth && y < m_nHeight; }

  int m_nWidth = 0;
  int m_nHeight = 0;
  std::vector<COLORREF> m_pixels;
};

class CSkinBitmap {
 public:
  // Loads bitmap `id` from the program's resources. A missing or unreadable bitmap leaves the
  // holder empty (0 x 0), and an empty holder draws nothing.
  void Load(unsigned id);
  // Loads a BMP file's bytes (uncompressed, 24 or 32 bits per pixel); false leaves it empty.
  bool LoadBmp(const uint8_t* data, size_t size);

  // Puts the whole picture on `dc` with its top-left corner at (x, y), opaque.
  void Draw(CPixelSurface& dc, int x, int y) const;
  // Draws frame `frame` (0 to 3) at (x, y): the destination keeps its pixel wherever the frame's
  // pixel equals `key`, and takes the frame's pixel everywhere else. Written in one pass.
  void DrawFrameTransparent(CPixelSurface& dc, int frame, int x, int y, COLORREF key) const;

  int Width() const { return m_nWidth; }
  int Height() const { return m_nHeight; }
  int FrameWidth() const { return m_nFrameWidth; }
  COLORREF Pixel(int x, int y) const { return m_bits.At(x, y); }

 private:
  CPixelSurface m_bits;
  int m_nWidth = 0;
  int m_nFrameWidth = 0;  // m_nWidth / 4: the last (width mod 4) columns belong to no frame
  int m_nHeight = 0;
};

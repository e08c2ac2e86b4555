#include "skin/SkinBitmap.h"

#include <algorithm>
#include <cstdlib>

#include "res/Resources.h"

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Copies the w x h block at (sx, sy) of `src` to (x, y) of `dc` through `pick`, clipped to both.
template <typename Pick>
void Blend(CPixelSurface& dc, int x, int y, int w, int h, Pick pick) {
  int x0 = std::max(0, x), y0 = std::max(0, y);
  int x1 = std::min(dc.m_nWidth, x + w), y1 = std::min(dc.m_nHeight, y + h);
  for (int dy = y0; dy < y1; ++dy)
    for (int dx = x0; dx < x1; ++dx) dc.At(dx, dy) = pick(dx - x, dy - y, dc.At(dx, dy));
}

}  // namespace

void CSkinBitmap::Load(unsigned id) {
  ResourceBytes bytes = FindResource(RT_BITMAP, id);
  if (!LoadBmp(bytes.data, bytes.size)) *this = CSkinBitmap();
}

bool CSkinBitmap::LoadBmp(const uint8_t* data, size_t size) {
  *this = CSkinBitmap();
  if (!data || size < 54 || data[0] != 'B' || data[1] != 'M') return false;
  const uint32_t pixelOffset = Le32(data + 10);
  const uint32_t headerSize = Le32(data + 14);
  if (headerSize < 40 || headerSize > size - 14) return false;
  const int32_t width = static_cast<int32_t>(Le32(data + 18));
  const int32_t rawHeight = static_cast<int32_t>(Le32(data + 22));
  const uint16_t bits = Le16(data + 28);
  const uint32_t compression = Le32(data + 30);
  // Sizes beyond any skin picture are refused, so that a bad header cannot ask for huge memory.
  if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN || width > 8192 || std::abs(rawHeight) > 8192)
    return false;
  if ((bits != 24 && bits != 32) || (compression != 0 && !(compression == 3 && bits == 32))) return false;
  const int height = std::abs(rawHeight);
  const size_t rowSize = (size_t(width) * bits + 31) / 32 * 4;
  if (pixelOffset > size || rowSize * size_t(height) > size - pixelOffset) return false;
  const size_t step = bits / 8;
  m_bits = CPixelSurface(width, height);
  for (int y = 0; y < height; ++y) {
    // Rows are stored bottom-up unless the height is negative.
    const uint8_t* row = data + pixelOffset + rowSize * size_t(rawHeight > 0 ? height - 1 - y : y);
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = row + size_t(x) * step;
      m_bits.At(x, y) = RGB(p[2], p[1], p[0]);
    }
  }
  m_nWidth = width;
  m_nHeight = height;
  m_nFrameWidth = width / 4;
  return true;
}

void CSkinBitmap::Draw(CPixelSurface& dc, int x, int y) const {
  Blend(dc, x, y, m_nWidth, m_nHeight, [this](int sx, int sy, COLORREF) { return m_bits.At(sx, sy); });
}

void CSkinBitmap::DrawFrameTransparent(CPixelSurface& dc, int frame, int x, int y, COLORREF key) const {
  if (frame < 0 || frame > 3) return;
  const int left = frame * m_nFrameWidth;
  key &= 0x00FFFFFF;
  Blend(dc, x, y, m_nFrameWidth, m_nHeight, [this, left, key](int sx, int sy, COLORREF under) {
    COLORREF picture = m_bits.At(left + sx, sy);
    return picture == key ? under : picture;
  });
}

#include "ui/win32/SkinBitmapGdi.h"

namespace win32ui {
namespace {

// A memory DC with one bitmap selected, which it gives back and releases when it goes.
class MemoryDc {
 public:
  MemoryDc(HDC like, HBITMAP bitmap, bool ownsBitmap)
      : m_dc(CreateCompatibleDC(like)), m_bitmap(bitmap), m_bOwns(ownsBitmap) {
    m_old = m_dc && m_bitmap ? static_cast<HBITMAP>(SelectObject(m_dc, m_bitmap)) : nullptr;
  }
  ~MemoryDc() {
    if (m_old) SelectObject(m_dc, m_old);
    if (m_bOwns && m_bitmap) DeleteObject(m_bitmap);
    if (m_dc) DeleteDC(m_dc);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  HDC Dc() const { return m_dc; }
  bool Ok() const { return m_dc && m_old; }

 private:
  HDC m_dc;
  HBITMAP m_bitmap;
  bool m_bOwns;
  HBITMAP m_old;
};

}  // namespace

SkinBitmapGdi::~SkinBitmapGdi() {
  if (m_hBitmap) DeleteObject(m_hBitmap);
}

void SkinBitmapGdi::Load(UINT id) {
  if (m_hBitmap) DeleteObject(m_hBitmap);
  m_hBitmap = LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id & 0xFFFF));
  m_bm = BITMAP{};
  if (!m_hBitmap || GetObjectW(m_hBitmap, sizeof m_bm, &m_bm) != sizeof m_bm) {
    if (m_hBitmap) DeleteObject(m_hBitmap);
    m_hBitmap = nullptr;
    m_bm = BITMAP{};
  }
  m_nWidth = m_bm.bmWidth;
  m_nHeight = m_bm.bmHeight;
  m_nFrameWidth = m_nWidth / 4;
}

void SkinBitmapGdi::Draw(HDC dc, int x, int y) const {
  if (!m_hBitmap) return;
  MemoryDc memory(dc, m_hBitmap, false);
  if (memory.Ok()) BitBlt(dc, x, y, m_nWidth, m_nHeight, memory.Dc(), 0, 0, SRCCOPY);
}

void SkinBitmapGdi::DrawFrameTransparent(HDC dc, int frame, int x, int y, COLORREF key) const {
  if (!m_hBitmap || frame < 0 || frame > 3) return;
  const int w = m_nFrameWidth, h = m_nHeight, sx = frame * w;
  MemoryDc strip(dc, m_hBitmap, false);
  MemoryDc picture(dc, CreateCompatibleBitmap(dc, w, h), true);
  MemoryDc mask(dc, CreateBitmap(w, h, 1, 1, nullptr), true);
  MemoryDc composition(dc, CreateCompatibleBitmap(dc, w, h), true);
  if (!strip.Ok() || !picture.Ok() || !mask.Ok() || !composition.Ok()) return;
  BitBlt(picture.Dc(), 0, 0, w, h, strip.Dc(), sx, 0, SRCCOPY);
  // Colour to monochrome: 1 where the picture has the key colour, 0 elsewhere.
  SetBkColor(picture.Dc(), key);
  BitBlt(mask.Dc(), 0, 0, w, h, picture.Dc(), 0, 0, SRCCOPY);
  // Monochrome to colour reads 1 as the background (black) and 0 as the text colour (white): the
  // key pixels of the picture turn black, the others stay.
  SetBkColor(picture.Dc(), RGB(0, 0, 0));
  SetTextColor(picture.Dc(), RGB(255, 255, 255));
  BitBlt(picture.Dc(), 0, 0, w, h, mask.Dc(), 0, 0, SRCAND);
  // What the destination shows now, kept where the mask is 1 (the composition DC's default
  // colours: text black, background white), with the picture merged in over the black rest.
  BitBlt(composition.Dc(), 0, 0, w, h, dc, x, y, SRCCOPY);
  BitBlt(composition.Dc(), 0, 0, w, h, mask.Dc(), 0, 0, SRCAND);
  BitBlt(composition.Dc(), 0, 0, w, h, picture.Dc(), 0, 0, SRCPAINT);
  BitBlt(dc, x, y, w, h, composition.Dc(), 0, 0, SRCCOPY);
}

}  // namespace win32ui

// A picture of the skin as a GDI bitmap, loaded from the program's bitmap resources: drawn whole
// (the window's background) or one of its four side-by-side frames with a key colour left
// transparent (the skinned buttons). The frame is composed in memory and written in one copy, so a
// button never flickers between its background and its frame.
#pragma once
#include <windows.h>

namespace win32ui {

class SkinBitmapGdi {
 public:
  SkinBitmapGdi() = default;
  ~SkinBitmapGdi();
  SkinBitmapGdi(const SkinBitmapGdi&) = delete;
  SkinBitmapGdi& operator=(const SkinBitmapGdi&) = delete;

  // Loads bitmap `id` (its low 16 bits) from the program's resources; a missing bitmap leaves the
  // holder empty, and an empty holder draws nothing.
  void Load(UINT id);
  bool Loaded() const { return m_hBitmap != nullptr; }
  void Draw(HDC dc, int x, int y) const;
  // Frame `frame` (0 to 3) at (x, y): the destination keeps its pixel wherever the frame's pixel is
  // `key`, and takes the frame's pixel everywhere else.
  void DrawFrameTransparent(HDC dc, int frame, int x, int y, COLORREF key) const;

  int Width() const { return m_nWidth; }
  int Height() const { return m_nHeight; }
  int FrameWidth() const { return m_nFrameWidth; }

 private:
  HBITMAP m_hBitmap = nullptr;
  BITMAP m_bm{};
  int m_nWidth = 0;
  int m_nFrameWidth = 0;  // m_nWidth / 4: the last (width mod 4) columns belong to no frame
  int m_nHeight = 0;
};

}  // namespace win32ui

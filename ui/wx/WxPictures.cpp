#include "ui/wx/WxPictures.h"

#include <wx/image.h>
#include <wx/imagbmp.h>
#include <wx/mstream.h>

#include "res/Resources.h"

wxBitmap ToBitmap(const CPixelSurface& surface) {
  if (surface.m_nWidth <= 0 || surface.m_nHeight <= 0) return wxBitmap();
  wxImage image(surface.m_nWidth, surface.m_nHeight, false);
  unsigned char* rgb = image.GetData();
  for (COLORREF c : surface.m_pixels) {
    *rgb++ = GetRValue(c);
    *rgb++ = GetGValue(c);
    *rgb++ = GetBValue(c);
  }
  return wxBitmap(image);
}

wxIconBundle LoadIconResource(unsigned id) {
  ResourceBytes bytes = FindResource(RT_ICON, id);
  if (!bytes.size) return wxIconBundle();
  if (!wxImage::FindHandler(wxBITMAP_TYPE_ICO)) wxImage::AddHandler(new wxICOHandler);
  wxMemoryInputStream stream(bytes.data, bytes.size);
  return wxIconBundle(stream, wxBITMAP_TYPE_ICO);
}

wxCursor LoadCursorResource(unsigned id) {
  ResourceBytes bytes = FindResource(RT_CURSOR, id);
  if (!bytes.size) return wxCursor(wxCURSOR_ARROW);
  if (!wxImage::FindHandler(wxBITMAP_TYPE_CUR)) wxImage::AddHandler(new wxCURHandler);
  wxMemoryInputStream stream(bytes.data, bytes.size);
  wxImage image;
  // The CUR reader keeps the file's hot spot in the image's options.
  if (!image.LoadFile(stream, wxBITMAP_TYPE_CUR)) return wxCursor(wxCURSOR_ARROW);
  return wxCursor(image);
}

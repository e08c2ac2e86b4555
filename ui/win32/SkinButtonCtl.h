// One of the window's two owner-drawn push buttons, drawn entirely from a four-frame strip: hover
// tracked with _TrackMouseEvent, presses dropped while locked, the parent's pixels copied beneath
// each frame, a tooltip and an optional cursor of its own.
#pragma once
#include <windows.h>

#include <string>

#include "ui/win32/SkinBitmapGdi.h"

namespace win32ui {

class SkinButtonCtl {
 public:
  SkinButtonCtl() = default;
  ~SkinButtonCtl();
  SkinButtonCtl(const SkinButtonCtl&) = delete;
  SkinButtonCtl& operator=(const SkinButtonCtl&) = delete;

  // Takes over the dialog's button window (its messages pass through this object first).
  void Attach(HWND button);
  bool Attached() const { return m_hWnd != nullptr; }
  HWND Window() const { return m_hWnd; }

  // Loads the strip, keeps the key colour, and makes the window one frame large at its corner.
  void LoadBitmaps(UINT bitmapId, COLORREF key);
  bool Loaded() const { return m_strip.Loaded(); }
  void SetToolTipText(const std::string& utf8);
  void SetButtonCursor(HCURSOR cursor) { m_hCursor = cursor; }
  void EnableButton() { SetLocked(false); }
  void DisableButton() { SetLocked(true); }
  bool Locked() const { return m_bLocked; }

  // WM_DRAWITEM, which the dialog receives for the button.
  void DrawItem(const DRAWITEMSTRUCT& item);

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
  void RelayToToolTip(UINT message, WPARAM wParam, LPARAM lParam);
  void EraseBackground(HDC dc);
  void SetLocked(bool locked);
  void Redraw();

  HWND m_hWnd = nullptr;
  SkinBitmapGdi m_strip;
  COLORREF m_crKey = 0;
  bool m_bLocked = false;
  bool m_bTracking = false;
  bool m_bHover = false;
  RECT m_rcInParent{};
  HWND m_hToolTip = nullptr;
  HCURSOR m_hCursor = nullptr;
};

}  // namespace win32ui

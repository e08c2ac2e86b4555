#include "ui/win32/SkinButtonCtl.h"

#include <commctrl.h>

#include "skin/ButtonFrame.h"
#include "platform/wide_win32.h"

namespace win32ui {

namespace {
constexpr UINT_PTR kSubclassId = 1;
}

SkinButtonCtl::~SkinButtonCtl() {
  if (m_hWnd) RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
}

void SkinButtonCtl::Attach(HWND button) {
  m_hWnd = button;
  if (m_hWnd) SetWindowSubclass(m_hWnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void SkinButtonCtl::LoadBitmaps(UINT bitmapId, COLORREF key) {
  m_strip.Load(bitmapId);
  m_crKey = key;
  if (!m_hWnd) return;
  RECT rect;
  GetWindowRect(m_hWnd, &rect);
  HWND parent = GetParent(m_hWnd);
  POINT corners[2] = {{rect.left, rect.top}, {rect.right, rect.bottom}};
  ScreenToClient(parent, &corners[0]);
  ScreenToClient(parent, &corners[1]);
  m_rcInParent = {corners[0].x, corners[0].y, corners[0].x + m_strip.FrameWidth(), corners[0].y + m_strip.Height()};
  MoveWindow(m_hWnd, m_rcInParent.left, m_rcInParent.top, m_strip.FrameWidth(), m_strip.Height(), TRUE);
}

void SkinButtonCtl::SetToolTipText(const std::string& utf8) {
  if (!m_hWnd || m_hToolTip) return;
  m_hToolTip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, m_hWnd, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!m_hToolTip) return;
  SendMessageW(m_hToolTip, TTM_ACTIVATE, TRUE, 0);
  std::wstring text = platform::WideFromUtf8(utf8);
  TOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;  // understood by every comctl32 version
  tool.uFlags = TTF_IDISHWND;
  tool.hwnd = GetParent(m_hWnd);
  tool.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
  tool.lpszText = text.data();
  SendMessageW(m_hToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void SkinButtonCtl::SetLocked(bool locked) {
  if (m_bLocked == locked) return;
  m_bLocked = locked;
  Redraw();
}

void SkinButtonCtl::Redraw() {
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, TRUE);
}

void SkinButtonCtl::DrawItem(const DRAWITEMSTRUCT& item) {
  // No focus rectangle and no text: the strip carries the caption, and the window's own enabled
  // state does not count, only the lock.
  const int frame = ChooseButtonFrame(m_bLocked, (item.itemState & ODS_SELECTED) != 0, m_bHover);
  m_strip.DrawFrameTransparent(item.hDC, frame, 0, 0, m_crKey);
}

void SkinButtonCtl::EraseBackground(HDC dc) {
  // What the parent shows at the button's place now: the background picture its erase drew there.
  const int w = m_strip.FrameWidth(), h = m_strip.Height();
  HWND parent = GetParent(m_hWnd);
  HDC parentDc = GetDC(parent);
  HDC memory = CreateCompatibleDC(parentDc);
  HBITMAP copy = CreateCompatibleBitmap(parentDc, w, h);
  HGDIOBJ old = SelectObject(memory, copy);
  BitBlt(memory, 0, 0, w, h, parentDc, m_rcInParent.left, m_rcInParent.top, SRCCOPY);
  ReleaseDC(parent, parentDc);
  BitBlt(dc, 0, 0, w, h, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteObject(copy);
  DeleteDC(memory);
}

void SkinButtonCtl::RelayToToolTip(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!m_hToolTip) return;
  MSG msg{};
  msg.hwnd = m_hWnd;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = static_cast<DWORD>(GetMessageTime());
  DWORD pos = GetMessagePos();
  msg.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
  SendMessageW(m_hToolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

LRESULT SkinButtonCtl::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  // The modal dialog's loop has no hook for relaying, so the button hands its mouse messages on.
  if (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) RelayToToolTip(message, wParam, lParam);
  handled = true;
  switch (message) {
    case WM_MOUSEMOVE:
      if (!m_bTracking) {
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof track;
        track.dwFlags = TME_HOVER | TME_LEAVE;
        track.hwndTrack = m_hWnd;
        track.dwHoverTime = 1;
        m_bTracking = _TrackMouseEvent(&track) != FALSE;
      }
      handled = false;
      return 0;
    case WM_MOUSEHOVER:
      m_bHover = true;
      Redraw();
      return 0;
    case WM_MOUSELEAVE:
      m_bTracking = false;
      m_bHover = false;
      Redraw();
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      // While locked the press is dropped: the button is neither pressed nor clicked.
      handled = m_bLocked;
      return 0;
    case WM_SETCURSOR:
      // Cancel has no cursor of its own and shows the class's arrow.
      if (!m_hCursor) break;
      SetCursor(m_hCursor);
      return TRUE;
    case WM_ERASEBKGND:
      if (!m_strip.Loaded()) break;
      EraseBackground(reinterpret_cast<HDC>(wParam));
      return TRUE;
    default:
      break;
  }
  handled = false;
  return 0;
}

LRESULT CALLBACK SkinButtonCtl::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                             DWORD_PTR self) {
  auto* button = reinterpret_cast<SkinButtonCtl*>(self);
  bool handled = false;
  LRESULT result = button->HandleMessage(message, wParam, lParam, handled);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, SubclassProc, kSubclassId);
    button->m_hWnd = nullptr;
    button->m_hToolTip = nullptr;  // an owned window: it goes with the button
  }
  return handled ? result : DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace win32ui

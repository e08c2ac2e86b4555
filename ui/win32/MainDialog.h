// The client's window on Windows: the modal dialog on template 102 with the skinned buttons, the
// standard labels and progress bars over the background picture, and the notice page. It draws
// the client's state, which it reads on its own thread when a private message tells it something
// changed, and turns the player's actions into the client's commands.
#pragma once
#include <windows.h>

#include <mutex>
#include <string>

#include "skin/RepaintPacer.h"
#include "ui/win32/ClientLink.h"
#include "ui/win32/SkinBitmapGdi.h"
#include "ui/win32/SkinButtonCtl.h"
#include "ui/win32/WebNotice.h"

namespace win32ui {

class MainDialog : public WindowSide {
 public:
  // `uiThread` runs RunModalLoop; the client calls the WindowSide operations from its own threads.
  explicit MainDialog(DWORD uiThread) : m_uiThread(uiThread) {}

  // The window's thread: serves the window's life until the client has ended (WM_QUIT).
  void RunModalLoop();

  void Open(ClientView& view) override;
  void Changed(unsigned parts) override;
  void ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void Close() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  void ApplyParts(unsigned parts);
  void ApplySkin();
  void OnViewChanged();
  bool OnEraseBackground(HDC dc);
  bool OnPaintMinimised();
  void OnCommand(int id);
  void OnClose();
  HWND CurrentWindow();

  const DWORD m_uiThread;
  // Shared with the client's threads: whether the window is up, and whether the client is done.
  std::mutex m_mutex;
  HWND m_hWnd = nullptr;
  bool m_bClosed = false;
  ClientView* m_pView = nullptr;  // the window's thread only, once it opened

  CRepaintPacer m_pacer;
  bool m_bTimerSet = false;
  HICON m_hIcon = nullptr;
  SkinBitmapGdi m_background;
  SkinButtonCtl m_start;
  SkinButtonCtl m_cancel;
  WebNotice m_notice;
};

}  // namespace win32ui

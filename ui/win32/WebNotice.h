// The notice page: the platform's web-browser control, in place in the notice control's window
// (control 1000 of the dialog), held by a minimal OLE container. It navigates once; a control that
// cannot be made or a page that fails changes nothing else in the window.
#pragma once
#include <windows.h>

#include <string>

namespace win32ui {

class NoticeSite;

class WebNotice {
 public:
  WebNotice() = default;
  ~WebNotice();
  WebNotice(const WebNotice&) = delete;
  WebNotice& operator=(const WebNotice&) = delete;

  // Registers the notice control's window class (the class the dialog template names), before the
  // dialog is made.
  static void RegisterControlClass(HINSTANCE instance);

  // Makes the browser in `host` (the notice control's window) and opens `url` in it. Only the
  // first call with an address does anything; false when the browser could not be made.
  bool Navigate(HWND host, const std::string& url);
  bool Started() const { return m_bStarted; }
  // The browser goes before the window that holds it.
  void Close();

 private:
  NoticeSite* m_pSite = nullptr;
  bool m_bStarted = false;
};

}  // namespace win32ui

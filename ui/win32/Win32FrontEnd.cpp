// The windowed front end on Windows: the window's thread is the main thread, which serves the
// dialog; the client runs on a thread of its own and reaches the window through messages only.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <thread>

#include "platform/console.h"
#include "ui/WindowFrontEnd.h"
#include "ui/win32/ClientLink.h"
#include "ui/win32/MainDialog.h"
#include "ui/win32/WebNotice.h"

bool WindowByDefault() { return true; }

bool RunClientInWindow(int, char**, const std::function<void(IFrontEnd&)>& runClient, std::string& whyNot) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  if (!InitCommonControlsEx(&controls)) {
    whyNot = "the common controls did not start";
    return false;
  }
  // The browser control needs a single-threaded apartment; without one the window still works,
  // only the notice page stays empty.
  const bool oleStarted = SUCCEEDED(OleInitialize(nullptr));
  win32ui::WebNotice::RegisterControlClass(GetModuleHandleW(nullptr));
  // The thread's message queue exists before the client can post to it.
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  const DWORD uiThread = GetCurrentThreadId();
  static win32ui::MainDialog window(uiThread);
  // Ctrl+C, Ctrl+Break and closing the console press Cancel, as the window's button does.
  platform::SetCancelHandler([] { win32ui::CancelRunningClient(); });
  std::thread client([&] {
    win32ui::RunClientWithWindow(window, runClient);
    PostThreadMessageW(uiThread, WM_QUIT, 0, 0);
  });
  window.RunModalLoop();
  client.join();
  if (oleStarted) OleUninitialize();
  return true;
}

// Where the Windows window meets the running client. <windows.h> and the client's dialog header
// define the same names (SendMessage, MessageBox, IDOK, RECT, RGB, ...), so no file includes both:
// the window's files include this header and <windows.h>; ClientLink.cpp includes this header and
// the dialog's. Nothing here needs either.
#pragma once
#include <functional>
#include <string>

class IFrontEnd;

namespace win32ui {

// What a skinned button was given by the window's set-up; `ready` once its strip is loaded.
struct ButtonLook {
  bool ready = false;
  unsigned bitmapId = 0;
  unsigned key = 0;  // 0x00BBGGRR
  std::string toolTip;
  int cursorId = 0;  // 0: the default arrow
  std::string text;  // the button's window text (never painted)
};

// The running client as the window reads it (on the window's thread) and what the window asks of it.
class ClientView {
 public:
  virtual ~ClientView() = default;
  virtual std::string Caption() const = 0;
  virtual std::string Label(int id) const = 0;
  virtual int BarPos(int id) const = 0;  // 0 to 1000
  virtual bool StartLocked() const = 0;
  virtual std::string NoticeUrl() const = 0;
  virtual ButtonLook Button(int id) const = 0;
  virtual bool BackgroundReady() const = 0;
  // The player's commands: Start (ignored while locked) and Cancel (Cancel, Escape, Enter, close box).
  virtual void PressStart() = 0;
  virtual void PressCancel() = 0;
};

// The window as the client reaches it. Every call may come from any thread.
class WindowSide {
 public:
  virtual ~WindowSide() = default;
  // The client's dialog is about to run: the window opens and reads `view` from now on.
  virtual void Open(ClientView& view) = 0;
  // Parts of the view changed (skin/RepaintPacer.h's ViewPart bits).
  virtual void Changed(unsigned parts) = 0;
  // Shows a message box and returns once it is dismissed.
  virtual void ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  // The dialog has ended: the window closes; `view` is not read any more.
  virtual void Close() = 0;
};

// Runs the client with a front end that forwards to `window`; returns when the client has ended.
void RunClientWithWindow(WindowSide& window, const std::function<void(IFrontEnd&)>& runClient);

// Presses Cancel in the running client, if one runs (any thread, e.g. a console signal).
void CancelRunningClient();

}  // namespace win32ui

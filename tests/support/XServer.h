// A private X server (Xvfb) on a free display for the window tests, with what they need of it: finds windows by title, reads
// their pixels back through Xlib, saves screenshots as PNG files, and drives the pointer and the
// keyboard with xdotool.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "support/XvfbDisplay.h"

class XServer {
 public:
  XServer();  // starts Xvfb; Display() is empty when it could not start
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  const std::string& Display() const { return m_display; }

  struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
  };
  // Mapped top-level windows (children of the root) whose title (_NET_WM_NAME, else WM_NAME)
  // equals `title`; empty when none.
  std::vector<unsigned long> WindowsTitled(const std::string& title) const;
  // Waits up to `ms` for a mapped top-level window of that title; 0 when none came.
  unsigned long WaitForWindow(const std::string& title, int ms) const;
  bool WaitForNoWindow(const std::string& title, int ms) const;
  // The window's place on the screen (root coordinates) and its size.
  Rect Geometry(unsigned long window) const;
  Rect Screen() const;

  // What the screen shows in `rect` (root coordinates), one 0x00RRGGBB value per pixel, rows top
  // to bottom.
  struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
  };
  Image Grab(const Rect& rect) const;
  // Writes the image as a PNG file.
  static bool SavePng(const Image& image, const std::string& path);

  // Mapped override-redirect windows at the top of the window tree: pop-up menus and tooltips.
  std::vector<unsigned long> PopUps() const;
  // Every other mapped top-level window, whatever its title: main windows and dialogs.
  std::vector<unsigned long> TopLevels() const;
  // The name of the window's _NET_WM_WINDOW_TYPE (e.g. "_NET_WM_WINDOW_TYPE_TOOLTIP"); empty when unset.
  std::string WindowType(unsigned long window) const;
  bool IsMapped(unsigned long window) const;  // mapped and viewable
  // The window's ICCCM WM_STATE as a window manager set it: 1 normal, 3 iconic; 0 when unset.
  long WmState(unsigned long window) const;
  // The window's _NET_WM_ICON: width, height and width x height ARGB values, for each size.
  std::vector<unsigned long> Icon(unsigned long window) const;

  // The pointer's current cursor (XFixes): its size, hot spot and ARGB pixels.
  struct Cursor {
    int width = 0, height = 0, xhot = 0, yhot = 0;
    std::vector<uint32_t> argb;
  };
  Cursor CurrentCursor() const;

  // Runs xdotool with these arguments on this display; returns whether it succeeded.
  bool Xdotool(const std::string& args) const;

  // A window manager (openbox) on this display, for tests that need one (minimising); the others
  // see bare top-level windows, so it runs only until StopWindowManager or the end of the server.
  // Returns once it manages the screen; false when it is not installed or did not start.
  bool StartWindowManager();
  void StopWindowManager();

 private:
  XvfbDisplay m_xvfb;
  std::string m_display;
  ClientProcess m_windowManager;
  void* m_x = nullptr;  // the Xlib connection (Display*)
};

// Waits up to `ms` for `condition` to hold, checking every 50 ms.
template <typename Condition>
bool WaitUntil(Condition condition, int ms);

#include <chrono>
#include <thread>
template <typename Condition>
bool WaitUntil(Condition condition, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

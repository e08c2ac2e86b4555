// Other programs' top-level windows on the player's desktop: the scan made at start-up and the
// command sent to the music downloader. Where there is no desktop (no display, or none can be
// opened), no window is found and nothing is sent.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A top-level window of another program; 0 is no window.
using DesktopWindow = std::uintptr_t;

struct DesktopWindowInfo {
  DesktopWindow window = 0;
  std::string instanceName;  // the program's own name for the window, where the desktop keeps one
  std::string className;
  std::string title;  // UTF-8
};

// The desktop's top-level windows, topmost first. Under a reparenting window manager these are the
// programs' own windows inside the manager's frames, not the frames. A window that goes away while
// it is read is listed with what could be read of it, or not at all.
std::vector<DesktopWindowInfo> ListDesktopWindows();

// Asks the desktop to minimise `window`. False when there is no display or the window is gone.
bool MinimiseDesktopWindow(DesktopWindow window);

// Posts the command `commandId` with `lParam` to `window` (a WM_COMMAND, as the window's own menu
// would send it) without waiting for it to be handled. False when there is no display or the
// window is gone.
bool PostDesktopCommand(DesktopWindow window, uint32_t commandId, intptr_t lParam);

}  // namespace platform

// Built where no windowing system is known: there is no desktop to scan or to send to.
#include "platform/desktop_windows.h"

namespace platform {

std::vector<DesktopWindowInfo> ListDesktopWindows() { return {}; }

bool MinimiseDesktopWindow(DesktopWindow) { return false; }

bool PostDesktopCommand(DesktopWindow, uint32_t, intptr_t) { return false; }

}  // namespace platform

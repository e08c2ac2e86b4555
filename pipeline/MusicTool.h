// The music downloader runs beside the client; it is asked to close while game data is patched.
#pragma once
#include "platform/desktop_windows.h"

namespace pipeline {

// Posts the downloader's window the close command (32769). Does nothing when no desktop is there.
void AskMusicToolToClose(platform::DesktopWindow window);

}  // namespace pipeline

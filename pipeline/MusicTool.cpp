#include "pipeline/MusicTool.h"

namespace pipeline {

namespace {
const uint32_t kCloseCommand = 32769;
}

void AskMusicToolToClose(platform::DesktopWindow window) { platform::PostDesktopCommand(window, kCloseCommand, 0); }

}  // namespace pipeline

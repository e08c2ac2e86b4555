// The music downloader runs beside the client; it is asked to close while game data is patched.
#pragma once

namespace pipeline {

// Sends the downloader's window the close command (32769). Does nothing when no desktop is there.
void AskMusicToolToClose(void* window);

}  // namespace pipeline

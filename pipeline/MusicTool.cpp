#include "pipeline/MusicTool.h"

namespace pipeline {

// No desktop layer reaches other programs' windows yet; the flag that the caller sets still makes
// the worker start the downloader again after the patch.
void AskMusicToolToClose(void*) {}

}  // namespace pipeline

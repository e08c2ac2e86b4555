#include <windows.h>
#include <timeapi.h>

#include "platform/clock.h"

namespace platform {

uint32_t TimeGetTime() { return timeGetTime(); }

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform

// Millisecond clock and sleeps in place of WinMM's timeGetTime and Sleep.
#pragma once
#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, wrapping like the Windows counter.
uint32_t TimeGetTime();
void SleepMs(uint32_t milliseconds);

}  // namespace platform

// A lower share of the processor for a thread that only shows things, so that it takes only the
// time that the threads doing the work leave.
#pragma once

namespace platform {

// Lowers the calling thread's priority one step below normal, for good. Threads and programs that
// it starts afterwards inherit the lower priority where the system passes it on; threads started
// before keep theirs. Failing changes nothing.
void LowerThisThreadPriority();

}  // namespace platform

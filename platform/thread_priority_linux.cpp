#include <sys/resource.h>
#include <unistd.h>

#include "platform/thread_priority.h"

namespace platform {

void LowerThisThreadPriority() {
  // Linux keeps a nice value per thread (the thread id names it), and a new thread or process takes
  // its creator's. 10 still leaves the thread about a tenth of a busy processor.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}

}  // namespace platform

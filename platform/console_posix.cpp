#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "platform/console.h"

namespace platform {
namespace {

sigset_t CancelSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// The cancel signals are blocked before any thread exists, so that every thread inherits the mask
// and only the watcher below receives them. That must happen before main: the web view's libraries
// start a thread while they are loaded, and a thread that does not block SIGTERM would take it and
// end the process unasked. The executable's pre-initialisers run before those of any shared library.
void BlockCancelSignals(int, char**, char**) {
  sigset_t set = CancelSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}
[[gnu::section(".preinit_array"), gnu::used]] void (*const g_blockCancelSignals)(int, char**, char**) =
    BlockCancelSignals;

std::mutex g_handlerMutex;
std::function<void()> g_handler;

}  // namespace

void PrepareConsole() {}

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void SetCancelHandler(std::function<void()> onCancel) {
  static std::once_flag watching;
  std::call_once(watching, [] {
    std::thread([] {
      const sigset_t set = CancelSignals();
      for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) return;
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        if (g_handler) g_handler();
      }
    }).detach();
  });
  std::lock_guard<std::mutex> lock(g_handlerMutex);
  g_handler = std::move(onCancel);
}

}  // namespace platform

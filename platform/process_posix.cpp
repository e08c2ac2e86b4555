#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {

std::mutex g_exitMutex;
std::vector<void (*)()> g_exitFunctions;

}  // namespace

std::vector<std::string> SplitLikeCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) line.push_back(' ');
    line += args[i];
  }
  std::vector<std::string> words;
  std::string word;
  for (char c : line) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word.push_back(c);
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

bool SpawnNoWait(const std::string& program, const std::vector<std::string>& args) {
  std::string path = ResolvePath(program);
  if (path.find('/') == std::string::npos) path = "./" + path;  // a name is in the current folder, as on Windows
  std::vector<std::string> words = SplitLikeCommandLine(args);
  std::vector<char*> argv;
  argv.push_back(path.data());
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Nothing of the client but the standard streams: above all not its single-instance lock.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The child starts a session of its own so that a signal meant for the client does not reach it.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

void RegisterExitFunction(void (*fn)()) {
  std::lock_guard<std::mutex> lock(g_exitMutex);
  g_exitFunctions.push_back(fn);
}

void ExitProcess(int code) {
  // Two threads may end the client at once (the normal end and Cancel's backstop): the first runs
  // the exit functions and ends the process; any later caller waits for that instead of cutting
  // the first one short.
  static std::atomic<bool> ending{false};
  if (ending.exchange(true)) {
    for (;;) pause();
  }
  std::vector<void (*)()> functions;
  {
    std::lock_guard<std::mutex> lock(g_exitMutex);
    functions.swap(g_exitFunctions);
  }
  for (auto it = functions.rbegin(); it != functions.rend(); ++it) (*it)();
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(code);
}

void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

}  // namespace platform

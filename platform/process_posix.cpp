#include <fcntl.h>
#include <stdlib.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/process_end.h"

extern char** environ;

namespace platform {

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
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  // The client ignores SIGPIPE for its sockets; an ignored signal survives exec, and a game that
  // writes into a closed pipe would not end as it expects.
  sigset_t reset;
  sigemptyset(&reset);
  sigaddset(&reset, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &reset);
  // The client's environment, but for what only its own toolkit was to see.
  std::vector<char*> envp;
  for (char** entry = environ; *entry; ++entry)
    if (!IsClientOnlyVariable(*entry)) envp.push_back(*entry);
  envp.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

void SetVariableForClientOnly(const std::string& name, const std::string& value) {
  if (getenv(name.c_str())) return;
  if (setenv(name.c_str(), value.c_str(), 0) == 0) NoteClientOnlyVariable(name);
}

void EndProcessAtOnce(int code) { _exit(code); }

void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

}  // namespace platform

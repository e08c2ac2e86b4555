#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace platform {

bool AcquireSingleInstance(const char* name) {
  // A flock on a per-user file: the kernel drops it when the process dies, however it dies.
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  std::string dir = (runtimeDir && *runtimeDir) ? runtimeDir : "/tmp";
  std::string path = dir + "/" + name + "-" + std::to_string(getuid()) + ".lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;  // no place for a lock: better to run than to refuse forever
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  return true;  // fd stays open on purpose: it is the lock
}

}  // namespace platform

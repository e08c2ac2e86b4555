#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace platform {
namespace {

std::string FromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : "";
}

// Opens a folder that only this user can enter, making it (mode 0700) when it is missing. A link,
// a folder of someone else's or one that lets others in is refused: anyone who can write there
// could hold the lock and keep the client from ever starting.
int OpenPrivateFolder(const std::string& path) {
  mkdir(path.c_str(), 0700);
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st{};
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Where the lock may live, best first: the session's runtime folder, a folder of the user's own
// among the temporary files, and one in the user's cache folder should someone else hold that name.
std::vector<std::string> LockFolders() {
  std::vector<std::string> folders;
  if (std::string runtime = FromEnvironment("XDG_RUNTIME_DIR"); !runtime.empty()) folders.push_back(runtime);
  std::string temp = FromEnvironment("TMPDIR");
  folders.push_back((temp.empty() ? "/tmp" : temp) + "/tarvo-" + std::to_string(geteuid()));
  if (std::string home = FromEnvironment("HOME"); !home.empty()) {
    mkdir((home + "/.cache").c_str(), 0700);
    folders.push_back(home + "/.cache/tarvo");
  }
  return folders;
}

}  // namespace

bool AcquireSingleInstance(const char* name) {
  // A flock on a per-user file: the kernel drops it when the process dies, however it dies.
  const std::string file = std::string(name) + "-" + std::to_string(geteuid()) + ".lock";
  for (const std::string& folder : LockFolders()) {
    int dir = OpenPrivateFolder(folder);
    if (dir < 0) continue;
    int fd = openat(dir, file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    close(dir);
    if (fd < 0) continue;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      return false;
    }
    return true;  // fd stays open on purpose: it is the lock
  }
  return true;  // no place for a lock: better to run than to refuse forever
}

}  // namespace platform

#include "platform/single_instance.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace platform {
namespace {

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

// The user's home as the user database has it ($HOME is the caller's to set).
std::string HomeOfUser() {
  std::vector<char> buffer(16384);
  struct passwd entry{};
  struct passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir) return "";
  return found->pw_dir[0] == '/' ? found->pw_dir : "";
}

// Where the lock may live, best first: a folder of the user's own among the temporary files, and
// one in the user's cache folder should someone else hold that name. Both follow from the user id
// alone: a lock whose place a variable chose would let a second client pick another place.
std::vector<std::string> LockFolders() {
  std::vector<std::string> folders{"/tmp/tarvo-" + std::to_string(geteuid())};
  if (std::string home = HomeOfUser(); !home.empty()) {
    mkdir((home + "/.cache").c_str(), 0700);
    folders.push_back(home + "/.cache/tarvo");
  }
  return folders;
}

// flock, told apart: a lock someone holds from one that cannot be taken at all.
LockResult LockExclusively(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return LockResult::kTaken;
  return errno == EWOULDBLOCK ? LockResult::kHeldElsewhere : LockResult::kNoPlace;
}

}  // namespace

LockResult AcquireSingleInstance(const char* name) {
  // A flock on a per-user file: the kernel drops it when the process dies, however it dies.
  const std::string file = std::string(name) + "-" + std::to_string(geteuid()) + ".lock";
  for (const std::string& folder : LockFolders()) {
    int dir = OpenPrivateFolder(folder);
    if (dir < 0) continue;
    int fd = openat(dir, file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    close(dir);
    if (fd < 0) continue;
    const LockResult result = LockExclusively(fd);
    if (result != LockResult::kTaken) close(fd);
    if (result == LockResult::kNoPlace) continue;
    return result;  // when taken, fd stays open on purpose: it is the lock
  }
  return LockResult::kNoPlace;
}

LockResult LockFolderForProcess(const std::string& folder) {
  // The folder's own descriptor carries the lock: nothing is written into the installation, and
  // a read-only game folder can be locked as well as any other.
  static std::mutex guard;
  static std::vector<std::pair<dev_t, ino_t>> held;
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return LockResult::kNoPlace;
  struct stat st{};
  if (fstat(fd, &st) != 0) {
    close(fd);
    return LockResult::kNoPlace;
  }
  std::lock_guard<std::mutex> hold(guard);
  for (const auto& [dev, ino] : held) {
    if (dev == st.st_dev && ino == st.st_ino) {
      close(fd);
      return LockResult::kTaken;
    }
  }
  const LockResult result = LockExclusively(fd);
  if (result != LockResult::kTaken) {
    close(fd);
    return result;
  }
  held.emplace_back(st.st_dev, st.st_ino);  // fd stays open: it is the lock
  return result;
}

}  // namespace platform

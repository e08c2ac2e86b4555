#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/registry_file_store.h"

namespace platform {
namespace {

void MakeParentFolders(const std::string& path) {
  for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1))
    mkdir(path.substr(0, pos).c_str(), 0755);
}

// The client makes the game folder current long before it is done with the registry, so a relative
// path from the environment is taken against the folder the client was started in, once and for all.
const std::string g_startFolder = [] {
  char buf[4096];
  return getcwd(buf, sizeof buf) ? std::string(buf) : std::string("/");
}();

std::string FromStartFolder(std::string path) {
  return !path.empty() && path[0] == '/' ? path : g_startFolder + "/" + path;
}

}  // namespace

std::string RegistryFilePath() {
  if (const char* p = std::getenv("TARVO_REGISTRY"); p && *p) return FromStartFolder(p);
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return FromStartFolder(std::string(x) + "/tarvo/registry.reg");
  const char* home = std::getenv("HOME");
  return FromStartFolder(std::string(home && *home ? home : ".") + "/.config/tarvo/registry.reg");
}

namespace regfile {

FileLock::FileLock(const std::string& registryPath, bool exclusive) {
  std::string lockPath = registryPath + ".lock";
  if (exclusive) MakeParentFolders(lockPath);
  int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  while (flock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
  }
  m_handle = fd;
}

FileLock::~FileLock() {
  if (Held()) close(static_cast<int>(m_handle));
}

// The final file a path names, following symbolic links as opening it would: a registry file that
// is a link is updated where it points, and the link stays.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    char target[4096];
    ssize_t n = readlink(path.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof target) return path;
    std::string next(target, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    if (next[0] != '/' && slash != std::string::npos) next = path.substr(0, slash + 1) + next;
    path = next;
  }
  return path;
}

FILE* OpenForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

bool WriteFileAtomically(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".tmp";
  MakeParentFolders(path);
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat old{};
  if (stat(path.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);  // who may read it stays the same
  bool ok = true;
  for (size_t done = 0; done < text.size();) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

void SetAside(const std::string& path, const std::string& newPath) { std::rename(path.c_str(), newPath.c_str()); }

}  // namespace regfile
}  // namespace platform

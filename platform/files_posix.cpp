#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>

#include "platform/files.h"
#include "platform/share_lock_posix.h"
#include "platform/stdio_mode.h"

namespace platform {
namespace {

// Windows' read-only attribute: no write bit at all. Checked by hand because root ignores modes.
bool IsReadOnly(const struct stat& st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

bool IsDriveOnly(std::string_view path) {
  if (path.size() < 2 || path[1] != ':') return false;
  return path.size() == 2 || (path.size() == 3 && (path[2] == '\\' || path[2] == '/'));
}

// Holds an exclusive flock on a file while it is deleted or replaced, so that no FileHandle or
// stdio stream (in any process) has it open. Windows refuses those operations on open files.
class ExclusiveProbe {
 public:
  explicit ExclusiveProbe(const std::string& native) {
    // A link is not opened through: the link itself is what gets deleted or replaced.
    m_fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (m_fd >= 0 && !TakeShareLock(m_fd, LOCK_EX)) {
      close(m_fd);
      m_fd = -1;
      errno = EBUSY;
      m_busy = true;
    }
  }
  ~ExclusiveProbe() {
    if (m_fd >= 0) close(m_fd);
  }
  ExclusiveProbe(const ExclusiveProbe&) = delete;
  ExclusiveProbe& operator=(const ExclusiveProbe&) = delete;
  // A file that cannot even be opened for reading is not known to be busy.
  bool Busy() const { return m_busy; }

 private:
  int m_fd = -1;
  bool m_busy = false;
};

// The file may be removed from its name: it exists, is no folder, is writable and nobody holds it.
bool CheckRemovableFile(const std::string& native) {
  struct stat st{};
  if (lstat(native.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (!S_ISLNK(st.st_mode) && IsReadOnly(st)) {
    errno = EACCES;
    return false;
  }
  return true;
}

// An existing `target` may be replaced by rename: it is no folder, is writable and nobody holds it.
bool CheckReplaceable(const std::string& target) {
  struct stat st{};
  if (lstat(target.c_str(), &st) != 0) return true;
  if (!CheckRemovableFile(target)) return false;
  ExclusiveProbe probe(target);
  return !probe.Busy();
}

bool RenameNoReplace(const std::string& source, const std::string& target) {
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without RENAME_NOREPLACE: the check and the rename are then two steps.
  struct stat st{};
  if (lstat(target.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return rename(source.c_str(), target.c_str()) == 0;
}

bool HasExeSuffix(const std::string& name) {
  if (name.size() < 4) return false;
  std::string suffix = name.substr(name.size() - 4);
  for (char& c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return suffix == ".exe";
}

}  // namespace

bool CreateDirectory(std::string_view path) {
  if (path.empty() || IsDriveOnly(path) || IsNetworkPath(path)) {
    errno = EINVAL;
    return false;
  }
  std::string native = ResolvePath(path);
  return mkdir(native.c_str(), 0777) == 0;
}

bool RemoveDirectory(std::string_view path) {
  if (path.empty()) return false;
  std::string native = ResolvePath(path);
  return rmdir(native.c_str()) == 0;
}

bool DeleteFile(std::string_view path) {
  if (path.empty() || IsNetworkPath(path)) return false;
  std::string native = ResolvePath(path);
  if (!CheckRemovableFile(native)) return false;
  ExclusiveProbe probe(native);
  if (probe.Busy()) return false;
  return unlink(native.c_str()) == 0;
}

bool MoveFile(std::string_view from, std::string_view to) {
  if (from.empty() || to.empty() || IsNetworkPath(from) || IsNetworkPath(to)) return false;
  std::string source = ResolvePath(from);
  std::string target = ResolvePath(to);
  struct stat st{};
  if (lstat(source.c_str(), &st) != 0) return false;
  ExclusiveProbe probe(source);  // an open file cannot be renamed either
  if (!S_ISDIR(st.st_mode) && probe.Busy()) return false;
  return RenameNoReplace(source, target);
}

bool MoveFileReplaceExisting(std::string_view from, std::string_view to) {
  if (from.empty() || to.empty() || IsNetworkPath(from) || IsNetworkPath(to)) return false;
  std::string source = ResolvePath(from);
  std::string target = ResolvePath(to);
  struct stat st{};
  if (lstat(source.c_str(), &st) != 0) return false;
  if (!CheckReplaceable(target)) return false;
  return rename(source.c_str(), target.c_str()) == 0;
}

PlaceResult PutFileInPlace(std::string_view from, std::string_view to, bool replace) {
  if (from.empty() || to.empty() || IsNetworkPath(from) || IsNetworkPath(to)) return PlaceResult::kFailed;
  std::string source = ResolvePath(from);
  std::string target = ResolvePath(to);
  struct stat st{};
  if (lstat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return PlaceResult::kFailed;
  mode_t mode = st.st_mode & 0777;
  struct stat old{};
  if (lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) mode = old.st_mode & 0777;
  // On Windows the name makes the program: a copy that came without modes must still start.
  if (HasExeSuffix(target)) mode |= (mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2;  // r gives x, per class
  if (replace ? !CheckReplaceable(target) : lstat(target.c_str(), &old) == 0) return PlaceResult::kTargetRefused;
  if (chmod(source.c_str(), mode) != 0) return PlaceResult::kFailed;
  bool moved = replace ? rename(source.c_str(), target.c_str()) == 0 : RenameNoReplace(source, target);
  if (moved) return PlaceResult::kPlaced;
  return errno == EEXIST || errno == EISDIR || errno == EBUSY || errno == ETXTBSY ? PlaceResult::kTargetRefused
                                                                                   : PlaceResult::kFailed;
}

uint32_t GetFileAttributes(std::string_view path) {
  if (path.empty()) return kInvalidFileAttributes;
  std::string native = ResolvePath(path);
  struct stat st{};
  if (lstat(native.c_str(), &st) != 0) return kInvalidFileAttributes;
  // A link to a folder is that folder, as a junction is; any other link is a plain file of its own.
  if (S_ISLNK(st.st_mode)) return stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? kFileAttributeDirectory
                                                                                          : kFileAttributeNormal;
  if (S_ISDIR(st.st_mode)) return kFileAttributeDirectory;
  return IsReadOnly(st) ? kFileAttributeReadOnly : kFileAttributeNormal;
}

bool SetFileAttributes(std::string_view path, uint32_t attributes) {
  if (path.empty()) return false;
  std::string native = ResolvePath(path);
  struct stat st{};
  if (lstat(native.c_str(), &st) != 0) return false;
  // Folders keep their modes (read-only means nothing there); a link's target is not ours to change.
  if (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kFileAttributeReadOnly) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else if (IsReadOnly(st)) {
    mode |= S_IWUSR;
  } else {
    return true;
  }
  return chmod(native.c_str(), mode) == 0;
}

bool IsLink(std::string_view path) {
  if (path.empty()) return false;
  std::string native = ResolvePath(path);
  struct stat st{};
  return lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

FILE* OpenStdio(std::string_view path, const char* mode) {
  StdioMode parsed;
  if (path.empty() || IsNetworkPath(path) || !ParseStdioMode(mode, parsed)) {
    errno = EINVAL;
    return nullptr;
  }
  int flags = O_CLOEXEC | O_NOCTTY;
  const int access = parsed.plus ? O_RDWR : parsed.kind == 'r' ? O_RDONLY : O_WRONLY;
  flags |= access | (parsed.kind == 'r' ? 0 : O_CREAT) | (parsed.kind == 'a' ? O_APPEND : 0) |
           (parsed.kind == 'w' && parsed.exclusive ? O_EXCL : 0);
  const bool truncate = parsed.kind == 'w';
  const bool writes = parsed.Writes();
  if (writes) flags |= O_NOFOLLOW;  // never write through a link
  std::string native = ResolvePath(path);
  struct stat st{};
  if (stat(native.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      return nullptr;
    }
    if (writes && IsReadOnly(st)) {
      errno = EACCES;
      return nullptr;
    }
  }
  int fd = open(native.c_str(), flags, 0666);
  if (fd < 0) return nullptr;
  // The C run-time shares with other readers and writers, but not with an exclusive handle;
  // truncation waits until that is known, so a refused open leaves the file as it was.
  if (!TakeShareLock(fd, LOCK_SH) || (truncate && ftruncate(fd, 0) != 0)) {
    close(fd);
    errno = EBUSY;
    return nullptr;
  }
  FILE* stream = fdopen(fd, parsed.StreamMode().c_str());
  if (!stream) close(fd);
  return stream;
}

bool SeekStdio(FILE* stream, int64_t offset, int origin) {
  return stream && fseeko(stream, static_cast<off_t>(offset), origin) == 0;
}

int64_t TellStdio(FILE* stream) { return stream ? static_cast<int64_t>(ftello(stream)) : -1; }

}  // namespace platform

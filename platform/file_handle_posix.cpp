#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/share_lock_posix.h"

namespace platform {

FileHandle::~FileHandle() { Close(); }

bool FileHandle::Open(std::string_view path, uint32_t access, uint32_t share, uint32_t disposition) {
  Close();
  if (path.empty() || IsNetworkPath(path)) {
    errno = ENOENT;
    return false;
  }
  std::string native = ResolvePath(path);
  bool reads = (access & kGenericRead) != 0;
  bool writes = (access & kGenericWrite) != 0;
  int flags = O_CLOEXEC | O_NOCTTY;
  flags |= (reads && writes) ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  // A link in the file's place is never written through (nor created through, when dangling).
  if (writes || disposition != kOpenExisting) flags |= O_NOFOLLOW;

  struct stat st{};
  bool exists = stat(native.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  bool truncate = false;
  switch (disposition) {
    case kCreateNew:
      if (exists) {
        errno = EEXIST;
        return false;
      }
      flags |= O_CREAT | O_EXCL;
      break;
    case kCreateAlways:
      flags |= O_CREAT;
      truncate = exists;
      break;
    case kOpenExisting:
      if (!exists) {
        errno = ENOENT;
        return false;
      }
      break;
    case kOpenAlways:
      flags |= O_CREAT;
      break;
    default:
      errno = EINVAL;
      return false;
  }
  // Read-only files refuse writers and truncation even to root, as on Windows.
  if (exists && (writes || truncate) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    errno = EACCES;
    return false;
  }
  int fd = open(native.c_str(), flags, 0666);
  if (fd < 0) return false;
  int lock = (share == kShareNone) ? LOCK_EX : LOCK_SH;
  if (!TakeShareLock(fd, lock) || (truncate && ftruncate(fd, 0) != 0)) {
    close(fd);
    errno = EBUSY;
    return false;
  }
  m_handle = fd;
  return true;
}

int64_t FileHandle::Read(void* buffer, uint64_t count) {
  if (!IsOpen()) return -1;
  uint64_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    ssize_t n = read(static_cast<int>(m_handle), out + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t FileHandle::Write(const void* buffer, uint64_t count) {
  if (!IsOpen()) return -1;
  uint64_t done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    ssize_t n = write(static_cast<int>(m_handle), in + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += static_cast<uint64_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t FileHandle::Seek(int64_t distance, uint32_t method) {
  if (!IsOpen()) return -1;
  int whence = method == kFileBegin ? SEEK_SET : method == kFileCurrent ? SEEK_CUR : method == kFileEnd ? SEEK_END : -1;
  if (whence < 0) return -1;
  off_t position = lseek(static_cast<int>(m_handle), static_cast<off_t>(distance), whence);
  return position < 0 ? -1 : static_cast<int64_t>(position);
}

int64_t FileHandle::Size() const {
  struct stat st{};
  if (!IsOpen() || fstat(static_cast<int>(m_handle), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void FileHandle::Close() {
  if (IsOpen()) {
    close(static_cast<int>(m_handle));  // drops the flock with the last descriptor of this open
    m_handle = kNoHandle;
  }
}

}  // namespace platform

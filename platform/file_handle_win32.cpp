#include <windows.h>
// before files.h, whose names windows.h has made macros
#include "platform/files_names_win32.h"

#include "platform/files.h"
#include "platform/files_native_win32.h"

namespace platform {
namespace {

HANDLE Native(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Reads and writes go in pieces that a DWORD counts.
constexpr uint64_t kMaxPiece = 1u << 30;

}  // namespace

FileHandle::~FileHandle() { Close(); }

// The access, share and disposition values are Windows' own, so they pass straight through; only
// deletion is never shared, so that a file held open cannot be removed from under its holder.
bool FileHandle::Open(std::string_view path, uint32_t access, uint32_t share, uint32_t disposition) {
  Close();
  if (path.empty() || IsNetworkPath(path)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::wstring native = NativePath(path);
  const bool writes = (access & kGenericWrite) != 0;
  // A link in the file's place is never written through (nor created through, when dangling).
  const bool asLink = writes || disposition != kOpenExisting;
  if ((asLink && IsNativeLink(native)) || ((writes || disposition == kCreateAlways) && IsReadOnlyFile(native))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  DWORD nativeAccess = ((access & kGenericRead) ? GENERIC_READ : 0) | (writes ? GENERIC_WRITE : 0);
  DWORD nativeShare = ((share & kShareRead) ? FILE_SHARE_READ : 0) | ((share & kShareWrite) ? FILE_SHARE_WRITE : 0);
  HANDLE file = CreateFileW(native.c_str(), nativeAccess, nativeShare, nullptr, disposition,
                            FILE_ATTRIBUTE_NORMAL | (asLink ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // The name may have become a link between the look and the open.
  if (asLink && HandleIsLink(file, native)) {
    CloseHandle(file);
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  m_handle = reinterpret_cast<intptr_t>(file);
  return true;
}

int64_t FileHandle::Read(void* buffer, uint64_t count) {
  if (!IsOpen()) return -1;
  uint64_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    DWORD piece = static_cast<DWORD>(count - done < kMaxPiece ? count - done : kMaxPiece);
    DWORD got = 0;
    if (!ReadFile(Native(m_handle), out + done, piece, &got, nullptr)) return -1;
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

int64_t FileHandle::Write(const void* buffer, uint64_t count) {
  if (!IsOpen()) return -1;
  uint64_t done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    DWORD piece = static_cast<DWORD>(count - done < kMaxPiece ? count - done : kMaxPiece);
    DWORD put = 0;
    if (!WriteFile(Native(m_handle), in + done, piece, &put, nullptr) || put == 0) return -1;
    done += put;
  }
  return static_cast<int64_t>(done);
}

int64_t FileHandle::Seek(int64_t distance, uint32_t method) {
  if (!IsOpen() || method > kFileEnd) return -1;
  LARGE_INTEGER move, position;
  move.QuadPart = distance;
  if (!SetFilePointerEx(Native(m_handle), move, &position, method)) return -1;
  return position.QuadPart;
}

int64_t FileHandle::Size() const {
  LARGE_INTEGER size;
  if (!IsOpen() || !GetFileSizeEx(Native(m_handle), &size)) return -1;
  return size.QuadPart;
}

void FileHandle::Close() {
  if (IsOpen()) {
    CloseHandle(Native(m_handle));
    m_handle = kNoHandle;
  }
}

}  // namespace platform

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// before files.h, whose names windows.h has made macros
#include "platform/files_names_win32.h"

#include <cerrno>
#include <cstdio>

#include "platform/files.h"
#include "platform/files_native_win32.h"
#include "platform/stdio_mode.h"
#include "platform/wide_win32.h"

namespace platform {
namespace {

DWORD Attributes(const std::wstring& native) { return GetFileAttributesW(native.c_str()); }

bool IsDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Refused(std::string_view path) { return path.empty() || IsNetworkPath(path); }

}  // namespace

std::wstring NativePath(std::string_view path) {
  std::wstring native = WideFromUtf8(path);
  for (wchar_t& c : native)
    if (c == L'/') c = L'\\';
  return native;
}

// A reparse point without a tag is none that Windows makes: Wine shows a Linux link to a folder so.
bool IsNameSurrogate(uint32_t attributes, uint32_t reparseTag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag));
}

namespace {

std::wstring FinalPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length + 1);
  }
}

// Opened for its attributes only, which no sharing of another open refuses.
HANDLE OpenToLook(const std::wstring& native, bool followLink) {
  return CreateFileW(native.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
}

bool HasWildcard(const std::wstring& name) { return name.find_first_of(L"*?") != std::wstring::npos; }

// The name of the entry `native` as its folder stores it (its long form, its own case).
std::wstring StoredName(const std::wstring& native, const std::wstring& written) {
  if (HasWildcard(written)) return written;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW(native.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return written;
  FindClose(find);
  return data.cFileName;
}

// Whether the system reached the file of `handle` somewhere else than in the folder of `native`
// under its name: a link in the last component, whatever the attributes said. Wine shows a Linux
// link to a file as the file it points to, attributes, find data and reparse tag alike, and opens
// the target even with FILE_FLAG_OPEN_REPARSE_POINT; only the handle's final path tells. Folder
// links before the last component are followed on both sides, so they never count.
bool ReachedElsewhere(HANDLE handle, const std::wstring& native) {
  std::wstring reached = FinalPath(handle);
  if (reached.empty()) return false;  // a file system that cannot say: the attributes decide
  DWORD length = GetFullPathNameW(native.c_str(), 0, nullptr, nullptr);
  if (length == 0) return false;
  std::wstring full(length, L'\0');
  wchar_t* leaf = nullptr;
  length = GetFullPathNameW(native.c_str(), length, full.data(), &leaf);
  if (length == 0 || length >= full.size() || !leaf) return false;
  const std::wstring name(leaf);
  std::wstring folder = full.substr(0, static_cast<size_t>(leaf - full.data()));
  HANDLE folderHandle = OpenToLook(folder, true);
  if (folderHandle == INVALID_HANDLE_VALUE) return false;
  std::wstring expected = FinalPath(folderHandle);
  CloseHandle(folderHandle);
  if (expected.empty()) return false;
  if (expected.back() != L'\\') expected += L'\\';
  expected += StoredName(full, name);
  return CompareStringOrdinal(expected.c_str(), -1, reached.c_str(), -1, TRUE) != CSTR_EQUAL;
}

// Wine cannot show a Linux link that points nowhere: every call takes it for a missing file except
// the name search, which stops at it with "no more files" where a missing name gives "not found".
bool IsUnseenEntry(const std::wstring& native) {
  size_t slash = native.find_last_of(L"\\/");
  if (HasWildcard(native.substr(slash == std::wstring::npos ? 0 : slash + 1))) return false;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW(native.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find != INVALID_HANDLE_VALUE) {
    FindClose(find);
    return false;
  }
  return GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace

bool HandleIsLink(HANDLE handle, const std::wstring& native) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
      IsNameSurrogate(tag.FileAttributes, tag.ReparseTag))
    return true;
  return ReachedElsewhere(handle, native);
}

bool IsNativeLink(const std::wstring& native) {
  DWORD attributes = Attributes(native);
  if (attributes == INVALID_FILE_ATTRIBUTES) return IsUnseenEntry(native);
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(native.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return true;  // a reparse point that cannot be read is not trusted
    FindClose(find);
    return IsNameSurrogate(data.dwFileAttributes, data.dwReserved0);
  }
  // Wine marks its folder links, never its file links.
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  HANDLE handle = OpenToLook(native, false);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool link = HandleIsLink(handle, native);
  CloseHandle(handle);
  return link;
}

bool IsReadOnlyFile(const std::wstring& native) {
  DWORD attributes = Attributes(native);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_READONLY);
}

// The system already matches names without regard to case, and takes "." and ".." by name.
std::string ResolvePath(std::string_view path) {
  std::string native(path);
  for (char& c : native)
    if (c == '/') c = '\\';
  return native;
}

struct ScopedPathCache::Listings {};

ScopedPathCache::ScopedPathCache() : m_listings(nullptr), m_previous(nullptr) {}
ScopedPathCache::~ScopedPathCache() = default;

bool SetCurrentDirectory(std::string_view path) {
  return !path.empty() && SetCurrentDirectoryW(NativePath(path).c_str());
}

bool SetCurrentDirectoryNoLink(std::string_view path) {
  if (path.empty()) return false;
  std::wstring native = NativePath(path);
  if (!IsDirectory(Attributes(native)) || IsNativeLink(native)) return false;
  // Held without delete sharing, the folder cannot be renamed away and a link put in its place
  // between the look and the change; Wine, whose Linux side knows no sharing, is checked after.
  HANDLE folder = CreateFileW(native.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION named{}, entered{};
  bool ok = !HandleIsLink(folder, native) && GetFileInformationByHandle(folder, &named) &&
            SetCurrentDirectoryW(native.c_str());
  CloseHandle(folder);
  if (!ok) return false;
  HANDLE current = OpenToLook(L".", true);
  if (current == INVALID_HANDLE_VALUE) return false;
  ok = GetFileInformationByHandle(current, &entered) && entered.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
       entered.nFileIndexHigh == named.nFileIndexHigh && entered.nFileIndexLow == named.nFileIndexLow;
  CloseHandle(current);
  return ok;
}

std::string GetCurrentDirectory() {
  DWORD length = GetCurrentDirectoryW(0, nullptr);
  std::wstring buffer(length, L'\0');
  DWORD got = GetCurrentDirectoryW(length, buffer.data());
  if (got == 0 || got >= length) return std::string();
  buffer.resize(got);
  return Utf8FromWide(buffer);
}

bool CreateDirectory(std::string_view path) {
  return !Refused(path) && CreateDirectoryW(NativePath(path).c_str(), nullptr);
}

bool RemoveDirectory(std::string_view path) { return !path.empty() && RemoveDirectoryW(NativePath(path).c_str()); }

// A file symbolic link goes with DeleteFileW; a folder link with RemoveDirectoryW, as the link.
bool DeleteFile(std::string_view path) {
  if (Refused(path)) return false;
  std::wstring native = NativePath(path);
  DWORD attributes = Attributes(native);
  if (IsDirectory(attributes) && !IsNativeLink(native)) return false;
  if (IsDirectory(attributes)) return RemoveDirectoryW(native.c_str());
  return !IsReadOnlyFile(native) && DeleteFileW(native.c_str());
}

bool MoveFile(std::string_view from, std::string_view to) {
  if (Refused(from) || Refused(to)) return false;
  return MoveFileExW(NativePath(from).c_str(), NativePath(to).c_str(), 0);
}

bool MoveFileReplaceExisting(std::string_view from, std::string_view to) {
  if (Refused(from) || Refused(to)) return false;
  std::wstring target = NativePath(to);
  if (IsReadOnlyFile(target)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return MoveFileExW(NativePath(from).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// Windows has no modes to carry over: the name makes the program, and a read-only target refuses.
PlaceResult PutFileInPlace(std::string_view from, std::string_view to, bool replace) {
  if (Refused(from) || Refused(to)) return PlaceResult::kFailed;
  std::wstring source = NativePath(from);
  std::wstring target = NativePath(to);
  DWORD sourceAttributes = Attributes(source);
  if (sourceAttributes == INVALID_FILE_ATTRIBUTES || (sourceAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return PlaceResult::kFailed;
  DWORD targetAttributes = Attributes(target);
  if (targetAttributes != INVALID_FILE_ATTRIBUTES) {
    bool link = IsNativeLink(target);
    if (!replace || (!link && (targetAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))))
      return PlaceResult::kTargetRefused;
    // A link to a folder is replaced as the link: the rename would refuse a folder in its place.
    if (link && (targetAttributes & FILE_ATTRIBUTE_DIRECTORY) && !RemoveDirectoryW(target.c_str()))
      return PlaceResult::kTargetRefused;
  }
  if (MoveFileExW(source.c_str(), target.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0))
    return PlaceResult::kPlaced;
  switch (GetLastError()) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return PlaceResult::kTargetRefused;
    default:
      return PlaceResult::kFailed;
  }
}

uint32_t GetFileAttributes(std::string_view path) {
  if (path.empty()) return kInvalidFileAttributes;
  std::wstring native = NativePath(path);
  DWORD attributes = Attributes(native);
  if (attributes == INVALID_FILE_ATTRIBUTES) return kInvalidFileAttributes;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kFileAttributeDirectory;
  // A link in a file's place counts as a plain writable file of its own.
  if (IsNativeLink(native)) return kFileAttributeNormal;
  return (attributes & FILE_ATTRIBUTE_READONLY) ? kFileAttributeReadOnly : kFileAttributeNormal;
}

bool SetFileAttributes(std::string_view path, uint32_t attributes) {
  if (path.empty()) return false;
  std::wstring native = NativePath(path);
  DWORD old = Attributes(native);
  if (old == INVALID_FILE_ATTRIBUTES) return false;
  // Folders keep theirs (read-only means nothing there); a link's target is not ours to change.
  if ((old & FILE_ATTRIBUTE_DIRECTORY) || IsNativeLink(native)) return true;
  DWORD wanted = (old & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_NORMAL)) |
                 ((attributes & kFileAttributeReadOnly) ? FILE_ATTRIBUTE_READONLY : 0);
  if (wanted == (old & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL))) return true;
  return SetFileAttributesW(native.c_str(), wanted ? wanted : FILE_ATTRIBUTE_NORMAL);
}

bool IsLink(std::string_view path) { return !path.empty() && IsNativeLink(NativePath(path)); }

// Opened through CreateFileW so that the C run-time's stream shares as it does on Linux (readers
// and writers, not an exclusive handle, nor deletion) and a link is never written through.
FILE* OpenStdio(std::string_view path, const char* mode) {
  StdioMode parsed;
  if (Refused(path) || !ParseStdioMode(mode, parsed)) {
    errno = EINVAL;
    return nullptr;
  }
  const bool writes = parsed.Writes();
  DWORD access = (parsed.kind == 'r' || parsed.plus ? GENERIC_READ : 0) | (writes ? GENERIC_WRITE : 0);
  DWORD disposition = parsed.kind == 'r'   ? OPEN_EXISTING
                      : parsed.kind == 'a' ? OPEN_ALWAYS
                      : parsed.exclusive   ? CREATE_NEW
                                           : CREATE_ALWAYS;
  int flags = _O_BINARY | (writes ? 0 : _O_RDONLY) | (parsed.kind == 'a' ? _O_APPEND : 0);
  std::wstring native = NativePath(path);
  if (writes && (IsNativeLink(native) || IsReadOnlyFile(native))) {
    errno = EACCES;
    return nullptr;
  }
  HANDLE file = CreateFileW(native.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                            FILE_ATTRIBUTE_NORMAL | (writes ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
            : error == ERROR_FILE_EXISTS                                   ? EEXIST
            : error == ERROR_SHARING_VIOLATION                             ? EBUSY
                                                                           : EACCES;
    return nullptr;
  }
  // The name may have become a link between the look and the open.
  if (writes && HandleIsLink(file, native)) {
    CloseHandle(file);
    errno = EACCES;
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), flags);
  if (fd < 0) {
    CloseHandle(file);
    return nullptr;
  }
  FILE* stream = _fdopen(fd, parsed.StreamMode().c_str());
  if (!stream) _close(fd);
  return stream;
}

bool SeekStdio(FILE* stream, int64_t offset, int origin) { return stream && _fseeki64(stream, offset, origin) == 0; }

int64_t TellStdio(FILE* stream) { return stream ? _ftelli64(stream) : -1; }

}  // namespace platform

#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/registry_file_store.h"
#include "platform/wide_win32.h"

namespace platform {
namespace {

std::string CurrentFolder() {
  DWORD length = GetCurrentDirectoryW(0, nullptr);
  std::wstring buffer(length, L'\0');
  DWORD got = GetCurrentDirectoryW(length, buffer.data());
  buffer.resize(got < length ? got : 0);
  return Utf8FromWide(buffer);
}

// The client makes the game folder current long before it is done with the registry, so a relative
// path from the environment is taken against the folder the client was started in, once and for all.
const std::string g_startFolder = CurrentFolder();

bool IsAbsolute(std::string_view path) {
  return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
         (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

std::string Environment(const wchar_t* name) {
  DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
  if (length == 0) return std::string();
  std::wstring value(length, L'\0');
  DWORD got = GetEnvironmentVariableW(name, value.data(), length);
  value.resize(got < length ? got : 0);
  return Utf8FromWide(value);
}

void MakeParentFolders(const std::string& path) {
  for (size_t pos = path.find_first_of("\\/", 3); pos != std::string::npos; pos = path.find_first_of("\\/", pos + 1))
    CreateDirectoryW(WideFromUtf8(path.substr(0, pos)).c_str(), nullptr);
}

}  // namespace

std::string RegistryFilePath() {
  std::string path = Environment(L"TARVO_REGISTRY");
  if (path.empty() || IsAbsolute(path)) return path;
  return g_startFolder + "\\" + path;
}

namespace regfile {

FileLock::FileLock(const std::string& registryPath, bool exclusive) {
  std::wstring lockPath = WideFromUtf8(registryPath + ".lock");
  if (exclusive) MakeParentFolders(registryPath);
  HANDLE file = CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  OVERLAPPED whole{};
  if (!LockFileEx(file, exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, MAXDWORD, MAXDWORD, &whole)) {
    CloseHandle(file);
    return;
  }
  m_handle = reinterpret_cast<intptr_t>(file);
}

FileLock::~FileLock() {
  if (Held()) CloseHandle(reinterpret_cast<HANDLE>(m_handle));  // the lock goes with the handle
}

// The replacement below renames a file into the path's place, which would put a plain file where a
// link was: it goes where the link leads instead. A path that cannot be opened (none yet, or a link
// that leads nowhere) is taken as it is.
std::string FollowLinks(std::string path) {
  HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return path;
  std::wstring final(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
  if (length >= final.size()) {
    final.resize(length + 1);
    length = GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
  }
  CloseHandle(file);
  if (length == 0 || length >= final.size()) return path;
  final.resize(length);
  // The \\?\ form back into the one the rest of the store builds its names from.
  if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) return Utf8FromWide(L"\\\\" + final.substr(8));
  if (final.rfind(L"\\\\?\\", 0) == 0) return Utf8FromWide(final.substr(4));
  return Utf8FromWide(final);
}

FILE* OpenForReading(const std::string& path) { return _wfopen(WideFromUtf8(path).c_str(), L"rb"); }

bool WriteFileAtomically(const std::string& path, const std::string& text) {
  const std::wstring target = WideFromUtf8(path);
  const std::wstring tmp = WideFromUtf8(path + ".tmp");
  MakeParentFolders(path);
  HANDLE file = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < text.size();) {
    DWORD chunk = static_cast<DWORD>(text.size() - done > (1u << 30) ? (1u << 30) : text.size() - done);
    DWORD written = 0;
    ok = WriteFile(file, text.data() + done, chunk, &written, nullptr) && written > 0;
    done += written;
  }
  ok = ok && FlushFileBuffers(file);
  ok = CloseHandle(file) && ok;
  if (!ok || !MoveFileExW(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(tmp.c_str());
    return false;
  }
  return true;
}

void SetAside(const std::string& path, const std::string& newPath) {
  MoveFileExW(WideFromUtf8(path).c_str(), WideFromUtf8(newPath).c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace regfile
}  // namespace platform

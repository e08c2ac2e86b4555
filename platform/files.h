// Files and folders with the Windows semantics the client relies on.
//
// Paths use '\' or '/' as separators and resolve against the process's current directory.
// Where a component does not exist with its exact case, an entry that differs only in ASCII case
// is used. A read-only file (no write bits) cannot be deleted or opened for writing until its
// read-only attribute is cleared. Sharing holds between processes: Windows' own share modes there,
// flock locks on Linux.
//
// Symbolic links: a link to a folder anywhere in a path is followed, as Windows follows a junction.
// A link in a file's place is never written through: opening it for writing fails, attributes
// neither read through it nor change its target (it counts as a plain writable file), and
// deleting, moving or replacing it acts on the link itself.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeNormal = 0x80;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// The native path for a Windows-style path: separators turned into '/', each existing component
// matched without regard to ASCII case. Components that do not exist are kept as written.
std::string ResolvePath(std::string_view path);

// Within its scope on the creating thread, resolution remembers each folder's listing instead of
// reading it again for every missing name, which makes writing many files into the same folders
// linear instead of quadratic. Names that resolution hands out as missing are remembered too, so
// that a later name differing only in case maps to the same file. Entries that other threads or
// processes make meanwhile in a listed folder are not seen in their other cases.
class ScopedPathCache {
 public:
  ScopedPathCache();
  ~ScopedPathCache();
  ScopedPathCache(const ScopedPathCache&) = delete;
  ScopedPathCache& operator=(const ScopedPathCache&) = delete;
  struct Listings;

 private:
  Listings* m_listings;
  Listings* m_previous;
};

// A network path (\\server\share..., and so also the \\?\ and \\.\ device forms). The functions that
// create, open, move or delete refuse them: on Linux they would land at the root of the local tree,
// and on Windows they would reach past the game folder's own names.
bool IsNetworkPath(std::string_view path);

bool SetCurrentDirectory(std::string_view path);
// As SetCurrentDirectory, but only for a folder of its own: fails when the last component is a link
// (to a folder or anything else). The client's scratch folders are entered this way, so that
// emptying them never deletes files wherever a link points.
bool SetCurrentDirectoryNoLink(std::string_view path);
std::string GetCurrentDirectory();

bool CreateDirectory(std::string_view path);  // fails when it exists already
bool RemoveDirectory(std::string_view path);  // fails when not empty
bool DeleteFile(std::string_view path);       // fails when read-only, missing, a folder or held open
bool MoveFile(std::string_view from, std::string_view to);  // fails when `to` exists
// MoveFileEx with MOVEFILE_REPLACE_EXISTING: atomically puts `from` in place of `to`. Fails when
// `to` is a folder, read-only or held open, as deleting it would.
bool MoveFileReplaceExisting(std::string_view from, std::string_view to);

enum class PlaceResult {
  kPlaced,
  // The target is a folder, read-only, held open, or (when not replacing) exists: the cases in
  // which Windows could not have opened it for writing either.
  kTargetRefused,
  kFailed,  // anything else: the source is missing, the name is too long, the disk refuses
};
// Puts the finished file `from` in place under the name `to` by rename, replacing a file there
// only when `replace` is set (MoveFileEx with MOVEFILE_REPLACE_EXISTING, else MoveFile). A link at
// `to` is replaced itself. The file keeps the modes the name had (the replaced file's permission
// bits), and a name ending in ".exe" (any case) gets execute permission for whoever may read it:
// no transfer carries modes, and on Windows the name is what makes a program.
PlaceResult PutFileInPlace(std::string_view from, std::string_view to, bool replace);

uint32_t GetFileAttributes(std::string_view path);          // kInvalidFileAttributes when missing
bool SetFileAttributes(std::string_view path, uint32_t attributes);  // only the read-only bit counts
bool FileExists(std::string_view path);
// Whether the last component of `path` is a symbolic link (to anything, or dangling).
bool IsLink(std::string_view path);
bool DirectoryExists(std::string_view path);

// fopen with path resolution, and with the read-only rule for modes that write.
FILE* OpenStdio(std::string_view path, const char* mode);
// fseek and ftell over the whole 64-bit range of a stream's position, whatever the C library's
// `long` holds. `origin` is SEEK_SET, SEEK_CUR or SEEK_END.
bool SeekStdio(FILE* stream, int64_t offset, int origin);
int64_t TellStdio(FILE* stream);  // -1 on failure

// Access, sharing and disposition values of CreateFile.
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kShareNone = 0;
constexpr uint32_t kShareRead = 1;
constexpr uint32_t kShareWrite = 2;
constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kOpenAlways = 4;
constexpr uint32_t kFileBegin = 0;
constexpr uint32_t kFileCurrent = 1;
constexpr uint32_t kFileEnd = 2;

// One open file handle (CreateFile). Opening with no sharing conflicts with any other open of the
// same file, in this process or another; opening with read sharing conflicts with writers.
class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle();
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool Open(std::string_view path, uint32_t access, uint32_t share, uint32_t disposition);
  bool IsOpen() const { return m_handle != kNoHandle; }
  // Bytes moved, or -1 on failure. A short read means the end of the file.
  int64_t Read(void* buffer, uint64_t count);
  int64_t Write(const void* buffer, uint64_t count);
  // New position, or -1 on failure.
  int64_t Seek(int64_t distance, uint32_t method);
  int64_t Size() const;
  void Close();

 private:
  // The system's own handle (a descriptor or a HANDLE), whose invalid value both variants spell -1.
  static constexpr intptr_t kNoHandle = -1;
  intptr_t m_handle = kNoHandle;
};

// Folder search with '*' and '?' patterns matched without regard to case (FindFirstFile/FindNextFile).
// The pattern's folder part is resolved as any path; the last component is the pattern.
class FileFind {
 public:
  FileFind() = default;
  ~FileFind();
  FileFind(const FileFind&) = delete;
  FileFind& operator=(const FileFind&) = delete;

  bool FindFirst(std::string_view pattern);  // false when the folder is missing or nothing matches
  bool FindNext();                           // false at the end of the listing
  const std::string& Name() const { return m_name; }  // the entry's name as stored
  bool IsDirectory() const { return m_isDirectory; }
  bool IsDots() const { return m_name == "." || m_name == ".."; }
  uint64_t Size() const { return m_size; }
  void Close();

 private:
  bool Advance();
  // The whole matching listing, taken at FindFirst and sorted without regard to case as NTFS
  // returns it, so that every caller sees a stable order.
  std::vector<std::string> m_entries;
  size_t m_next = 0;
  std::string m_folder;
  std::string m_name;
  bool m_isDirectory = false;
  uint64_t m_size = 0;
};

// Case-insensitive wildcard match of `name` against `pattern` ('*' any run, '?' one character).
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace platform

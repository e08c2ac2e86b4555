#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/PatchClientDlg.h"
#include "install/EntryPaths.h"
#include "install/ZipReader.h"
#include "platform/files.h"

namespace {

enum class EntryResult { kWritten, kSkipped, kFailed };

class StreamCloser {
 public:
  explicit StreamCloser(FILE* stream) : m_stream(stream) {}
  ~StreamCloser() {
    if (m_stream) fclose(m_stream);
  }
  StreamCloser(const StreamCloser&) = delete;
  StreamCloser& operator=(const StreamCloser&) = delete;

 private:
  FILE* m_stream;
};

// The longest file name (one path component) that the file systems take, in bytes.
constexpr size_t kMaxComponentBytes = 255;

// The temporary name of attempt `attempt` for `target`: "<name>.partN_" beside it, or where that
// would be too long a name, a short one made from the name's hash, still in the same folder so
// that the final rename stays within one file system. Both are the same on every run, so a
// leftover of an unpack that was killed is found and replaced.
std::string PartName(const std::string& target, int attempt) {
  const std::string suffix = ".part" + std::to_string(attempt) + "_";
  size_t cut = target.rfind('\\');
  size_t start = cut == std::string::npos ? 0 : cut + 1;
  if (target.size() - start + suffix.size() <= kMaxComponentBytes) return target + suffix;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (size_t i = start; i < target.size(); ++i) hash = (hash ^ static_cast<uint8_t>(target[i])) * 1099511628211ull;
  char text[24];
  std::snprintf(text, sizeof text, "~%016llx", static_cast<unsigned long long>(hash));
  return target.substr(0, start) + text + suffix;
}

// A fresh file beside `target` for the entry's bytes. It takes the target's name only once the
// entry is complete and verified, so a broken entry never replaces a good file.
std::string CreatePartFile(const std::string& target, platform::FileHandle& handle) {
  auto create = [&handle](const std::string& part) {
    return handle.Open(part, platform::kGenericWrite, platform::kShareNone, platform::kCreateNew);
  };
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::string part = PartName(target, attempt);
    if (create(part)) return part;
    if (!platform::FileExists(part)) break;  // not a name clash: the folder refuses new files
    // A leftover of an unpack that was killed; one still held open belongs to a running unpack.
    if (platform::DeleteFile(part) && create(part)) return part;
  }
  return std::string();
}

// Reads the entry even when its output is skipped: a damaged entry fails the archive either way.
int Verify(CZipReader& reader, int index) {
  return reader.ExtractEntryTo(index, [](const uint8_t*, size_t) { return true; });
}

// A file entry whose folder has a file on its way can never be written: a patch removes no file,
// so the folder is never made. Found before the first entry is written, the archive changes
// nothing. (A folder entry there is only passed over, as it writes nothing.)
bool FoldersCanBeMade(const std::vector<std::string>& paths) {
  std::set<std::string> seen;
  for (const std::string& path : paths) {
    if (path.empty() || path.back() == '\\') continue;
    for (size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\', cut + 1)) {
      std::string folder = path.substr(0, cut);
      if (!seen.insert(folder).second) continue;
      uint32_t attributes = platform::GetFileAttributes(folder);
      if (attributes != platform::kInvalidFileAttributes && !(attributes & platform::kFileAttributeDirectory)) {
        return false;
      }
    }
  }
  return true;
}

EntryResult UnpackEntry(CZipReader& reader, int index, const std::string& path) {
  if (path.empty() || path.back() == '\\') {
    return Verify(reader, index) == 0 ? EntryResult::kSkipped : EntryResult::kFailed;
  }
  // The read-only attribute comes off first, as the old file is to be replaced in any case.
  uint32_t attributes = platform::GetFileAttributes(path);
  if (attributes != platform::kInvalidFileAttributes && (attributes & platform::kFileAttributeReadOnly)) {
    platform::SetFileAttributes(path, attributes & ~platform::kFileAttributeReadOnly);
  }
  platform::FileHandle output;
  std::string part = CreatePartFile(path, output);
  // No file can be made beside the target (a missing or refusing folder, a name too long): the
  // entry cannot be installed at all, which is no case of a target in use.
  if (part.empty()) return EntryResult::kFailed;

  int failed = reader.ExtractEntryTo(index, [&output](const uint8_t* data, size_t size) {
    return output.Write(data, size) == static_cast<int64_t>(size);
  });
  output.Close();
  if (failed) {
    platform::DeleteFile(part);
    return EntryResult::kFailed;
  }
  // A target that refuses (a folder, a running program) is skipped, as one that cannot be opened
  // for writing; any other failure to put the entry in place fails the archive.
  platform::PlaceResult placed = platform::PutFileInPlace(part, path, true);
  if (placed == platform::PlaceResult::kPlaced) return EntryResult::kWritten;
  platform::DeleteFile(part);
  return placed == platform::PlaceResult::kTargetRefused ? EntryResult::kSkipped : EntryResult::kFailed;
}

}  // namespace

int CPatchClientDlg::UnpackFile(const char* packedFile) {
  FILE* stream = (packedFile && *packedFile) ? platform::OpenStdio(packedFile, "rb") : nullptr;
  StreamCloser closer(stream);
  CZipReader reader;
  if (reader.Open(stream) != 0) {
    ClearPatchList();
    return 0;
  }
  if (reader.GetEntryCount() == 0) return 0;

  // Every name is checked before the first entry is written, so a hostile archive writes nothing.
  std::vector<std::string> paths;
  paths.reserve(reader.GetEntryCount());
  for (int i = 0; i < reader.GetEntryCount(); ++i) {
    std::optional<std::string> name = EntryPathOf(reader.GetEntryNameBytes(i), reader.IsEntryNameUtf8(i));
    if (!name || IsInLinkedScratchFolder(*name)) {
      ClearPatchList();
      return 0;
    }
    paths.push_back(std::move(*name));
  }

  platform::ScopedPathCache folderListings;  // archives write many files into few folders
  if (!FoldersCanBeMade(paths)) {
    ClearPatchList();
    return 0;
  }
  std::string madeFolder;
  bool anyFolderMade = false;
  for (int i = 0; i < reader.GetEntryCount(); ++i) {
    const std::string& path = paths[i];
    size_t cut = path.rfind('\\');
    if (cut != std::string::npos) {
      std::string folder = path.substr(0, cut);
      // Archives list a folder's files together; making the same folders again for each is waste.
      if (!anyFolderMade || folder != madeFolder) {
        MakeDirs(folder.c_str());
        madeFolder = folder;
        anyFolderMade = true;
      }
    }
    if (UnpackEntry(reader, i, path) == EntryResult::kFailed) {
      ClearPatchList();
      return 0;
    }
  }
  return 1;
}

void CPatchClientDlg::MakeDirs(const char* path) {
  if (!path || !*path) return;
  std::string text(path);
  if (text.size() >= 1000) return;  // longer than any path the folder functions take
  size_t scan = 0;
  if (text.compare(0, 2, "\\\\") == 0) {
    scan = text.find('\\', 2);
    if (scan == std::string::npos) return;
  }
  while (scan < text.size()) {
    size_t next = text.find('\\', scan);
    std::string prefix = next == std::string::npos ? text : text.substr(0, next);
    scan = next == std::string::npos ? text.size() : next + 1;
    if (!prefix.empty() && prefix != "." && prefix != "..") platform::CreateDirectory(prefix);
  }
}

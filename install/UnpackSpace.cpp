#include "install/UnpackSpace.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "install/EntryPaths.h"
#include "install/ZipReader.h"
#include "platform/files.h"

uint64_t DiskBlocksOf(uint64_t bytes) {
  constexpr uint64_t kBlock = 4096;
  return bytes / kBlock * kBlock + (bytes % kBlock ? kBlock : 0);
}

std::optional<uint64_t> UnpackSpaceNeeded(const char* packedFile) {
  FILE* stream = (packedFile && *packedFile) ? platform::OpenStdio(packedFile, "rb") : nullptr;
  if (!stream) return std::nullopt;
  CZipReader reader;
  const bool opened = reader.Open(stream) == 0;
  std::optional<uint64_t> needed;
  if (opened) {
    uint64_t growth = 0, largest = 0;
    platform::ScopedPathCache folderListings;  // many entries, few folders
    for (int i = 0; i < reader.GetEntryCount(); ++i) {
      const std::optional<std::string> path = EntryPathOf(reader.GetEntryNameBytes(i), reader.IsEntryNameUtf8(i));
      const int64_t size = reader.GetEntrySize(i);
      if (!path || path->empty() || path->back() == '\\' || size <= 0) continue;
      const uint64_t blocks = DiskBlocksOf(static_cast<uint64_t>(size));
      uint64_t replaced = 0;
      platform::FileFind existing;
      if (existing.FindFirst(*path) && !existing.IsDirectory()) replaced = DiskBlocksOf(existing.Size());
      growth += blocks > replaced ? blocks - replaced : 0;
      largest = std::max(largest, blocks);
    }
    needed = growth + largest;
  }
  reader.Close();
  std::fclose(stream);
  return needed;
}

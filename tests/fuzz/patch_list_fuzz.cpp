// Arbitrary bytes as a level's patch file list: the parser must not crash, and every file it hands
// to the worker must name a place inside the game folder, with sizes summed as listed.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/RelativePath.h"
#include "pipeline/PatchListFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  pipeline::PatchList list;
  const pipeline::PatchListResult result = pipeline::ParsePatchList(text, list);
  if (result != pipeline::PatchListResult::kOk) {
    if (!list.entries.empty()) __builtin_trap();  // a refused list starts no worker
    return 0;
  }
  if (list.targetVersion.empty() || list.targetVersion[0] < '0' || list.targetVersion[0] > '9') __builtin_trap();
  // Each record is four words, each at least one byte and a separator.
  if (8 * list.entries.size() > size) __builtin_trap();
  uint32_t total = 0;
  for (const PatchFileEntry& entry : list.entries) {
    const std::string& path = entry.m_strPath;
    const std::string& name = entry.m_strName;
    if (path.size() > 259 || name.empty() || name.size() >= path.size()) __builtin_trap();
    if (!IsContainedRelativePath(name) || !IsContainedRelativePath(path)) __builtin_trap();
    if (entry.m_nSize == 0) __builtin_trap();
    total += static_cast<uint32_t>(entry.m_nSize);
  }
  if (total != list.totalBytes) __builtin_trap();
  return 0;
}

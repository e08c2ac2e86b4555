// Reading a level's patch file list ("FileList_%03d.dat"): a header of three words whose second is
// the target version, then records "path size word number" until the end, an empty path or size 0.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "app/PatchClientDlg.h"

namespace pipeline {

enum class PatchListResult {
  kOk,
  kBadHeader,   // missing header, or its version text does not start with a digit
  kBadRecord,   // a record that would reach outside the game folder, or is too long to be a path
};

struct PatchList {
  std::string targetVersion;
  std::vector<PatchFileEntry> entries;  // in the order they are installed: last record first
  uint32_t totalBytes = 0;
};

// Parses the list's text. A record without a backslash names no file in a folder and is skipped.
PatchListResult ParsePatchList(std::string_view text, PatchList& list);

// Whether a listed path stays inside the game folder once its first folder is cut off: no drive,
// no root, no ".." component.
bool IsSafeListedPath(std::string_view path);

// The remote name of a level's list: at least three digits.
std::string PatchListName(unsigned level);

}  // namespace pipeline

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
  // What the client passes over without a word, for a check before players see the list.
  std::string endedAt;                    // path of a record of size 0 that ended the list early
  std::vector<std::string> skippedPaths;  // records that name no file in a folder
  std::string refusedPath;                // the record that made the result kBadRecord
};

// Parses the list's text. '\' and '/' both separate folders; a record without either names no file
// in a folder and is skipped. Names are handed on with '\' alone.
PatchListResult ParsePatchList(std::string_view text, PatchList& list);

// A level's list names a few hundred files at most; anything far bigger is not a list. The client
// bounds it before and during its transfer, so no server can fill the disk with it.
constexpr int64_t kMaxPatchListBytes = 16 << 20;

// The remote name of a level's list: at least three digits.
std::string PatchListName(unsigned level);

}  // namespace pipeline

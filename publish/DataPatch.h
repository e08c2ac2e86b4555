// `tarvo-publish data`: one patch level from two game trees.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>

namespace publish {

struct DataOptions {
  std::string root;       // the FTP root folder that the patch server announces
  std::string fromLevel;  // the installations' level, as a version text ("1.1", "1.2.3")
  std::string toVersion;  // the version text the list leads to
  std::string oldTree, newTree;
  uint64_t maxArchiveBytes = uint64_t{100} << 20;
};

// Packs the files that differ into archives under TarvoPatch and writes the level's list under
// PatchInfo, replacing an earlier publication of the same two levels. Returns the exit code.
int PublishData(const DataOptions& options, std::ostream& out, std::ostream& err);

}  // namespace publish

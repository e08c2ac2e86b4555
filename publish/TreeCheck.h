// `tarvo-publish check`: reads a published tree the way the client will and reports what would
// break a player's update.
#pragma once
#include <array>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "publish/FolderShape.h"
#include "publish/Report.h"

namespace publish {

struct CheckOptions {
  std::string root;  // the FTP root folder that the patch server announces
  // The four version texts the patch server announces (launcher, client, data, music); without
  // them the data chain ends at the highest level a list leads to and the fixed files are only
  // checked where they exist.
  std::optional<std::array<std::string, 4>> versions;
};

Report CheckTree(const CheckOptions& options);

// Prints the problems and a summary; the exit code is 1 when some player's update would fail.
int RunCheck(const CheckOptions& options, std::ostream& out);

// An archive entry as the client installs it: the path it writes in the game folder, and its
// stored name as reports show it.
struct InstalledEntry {
  std::string path;
  std::string shown;
};

// Checks of the pieces, each adding to `report`.
// One archive as the patch worker installs it; `installName` is where it is downloaded to. Gives
// back the entries whose names the client takes, in the order it installs them.
std::vector<InstalledEntry> CheckArchive(const std::string& path, const std::string& shownName,
                                         const std::string& installName, Report& report);
// An entry of the archive `shownName` that clashes with what `clash.origin` (an archive, maybe the
// same) put in the game folder.
void ReportClash(const FolderShape::Clash& clash, const InstalledEntry& entry, const std::string& shownName,
                 Report& report);
// The music list under TarvoPatch and the music files it names under TarvoMusic.
void CheckMusic(const std::string& root, Report& report);

}  // namespace publish

#include "publish/TreeCheck.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "pipeline/PatchListFile.h"
#include "pipeline/VersionRules.h"
#include "publish/Layout.h"

namespace publish {
namespace {

namespace fs = std::filesystem;

struct ListInfo {
  std::string shown;  // "PatchInfo/FileList_100.dat"
  bool usable = false;
  pipeline::PatchList list;
};

std::string ListShown(unsigned level) { return std::string(kListFolder) + "/" + pipeline::PatchListName(level); }

// The archive a list record names, relative to the FTP root ("TarvoPatch/Patch_100_110_01.zip").
std::string ArchiveShown(const PatchFileEntry& entry) {
  std::string relative = std::string(kPatchFolder) + "/" + entry.m_strName;
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  return relative;
}

// The level a list leads to, as the client asks for its next list.
unsigned NextLevel(const pipeline::PatchList& list) {
  return static_cast<unsigned>(pipeline::Hundredths(pipeline::DottedVersion(list.targetVersion)) & 0xFFFF);
}

// The entries of each archive checked, by its name relative to the FTP root.
using ArchiveEntries = std::map<std::string, std::vector<InstalledEntry>>;

// "FileList_<digits>.dat": the level it stands for, or -1.
long LevelOfListName(const std::string& name) {
  const std::string prefix = "FileList_", suffix = ".dat";
  if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return -1;
  }
  const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stol(digits);
}

void CheckListRecords(const std::string& root, ListInfo& info, ArchiveEntries& archives, Report& report) {
  const pipeline::PatchList& list = info.list;
  if (!list.endedAt.empty()) {
    report.Error(info.shown, "record '" + Printable(list.endedAt) +
                                 "' has size 0 and ends the list: it and every record after it are never installed");
  }
  for (const std::string& path : list.skippedPaths) {
    report.Error(info.shown, "record '" + Printable(path) + "' names no file inside a folder; the client skips it");
  }
  if (list.entries.empty() && list.endedAt.empty() && list.skippedPaths.empty()) {
    report.Error(info.shown, "lists no archive; players install nothing and stay at this level");
  }
  for (const PatchFileEntry& entry : list.entries) {
    const std::string relative = ArchiveShown(entry);
    const fs::path path = fs::path(root) / relative;
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
      report.Error(info.shown, "names " + Printable(relative) + ", which is missing");
      continue;
    }
    const uint64_t size = fs::file_size(path, error);
    if (entry.m_nSize < 0 || size != static_cast<uint64_t>(entry.m_nSize)) {
      report.Error(info.shown, "lists " + Printable(relative) + " with " + std::to_string(entry.m_nSize) +
                                   " bytes; the archive has " + std::to_string(size));
    }
    if (!archives.count(relative)) archives[relative] = CheckArchive(path.string(), relative, entry.m_strName, report);
  }
}

std::map<unsigned, ListInfo> ReadLists(const std::string& root, ArchiveEntries& archives, Report& report) {
  std::map<unsigned, ListInfo> lists;
  std::error_code error;
  for (const fs::directory_entry& file : fs::directory_iterator(fs::path(root) / kListFolder, error)) {
    const std::string name = file.path().filename().string();
    const long level = LevelOfListName(name);
    if (level < 0) continue;
    const std::string shown = std::string(kListFolder) + "/" + name;
    if (name != pipeline::PatchListName(static_cast<unsigned>(level))) {
      report.Warning(shown, "the client never asks for this name; it asks for " +
                                pipeline::PatchListName(static_cast<unsigned>(level)));
      continue;
    }
    ListInfo& info = lists[static_cast<unsigned>(level)];
    info.shown = shown;
    std::error_code sizeError;
    if (fs::file_size(file.path(), sizeError) > static_cast<uint64_t>(pipeline::kMaxPatchListBytes)) {
      report.Error(shown, "is too large for the client to read as a list");
      continue;
    }
    std::ifstream in(file.path(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    switch (pipeline::ParsePatchList(text, info.list)) {
      case pipeline::PatchListResult::kBadHeader:
        report.Error(shown, "its header's second word is not a version text starting with a digit; the client stops");
        continue;
      case pipeline::PatchListResult::kBadRecord:
        report.Error(shown, "record '" + Printable(info.list.refusedPath) +
                                "' would reach outside the game folder; the client refuses the whole list");
        continue;
      case pipeline::PatchListResult::kOk:
        break;
    }
    info.usable = true;
    CheckListRecords(root, info, archives, report);
  }
  return lists;
}

// From each list, the levels a player passes through run by run must reach the announced data
// version: every level on the way needs its list, and none may come round again.
void CheckChains(const std::map<unsigned, ListInfo>& lists, float announced, Report& report) {
  std::set<unsigned> gapsReported;
  std::set<std::set<unsigned>> loopsReported;
  for (const auto& [start, startInfo] : lists) {
    if (!startInfo.usable) continue;
    if (!pipeline::UpdateNeeded(0.0f, static_cast<float>(start) / 100.0f, announced)) {
      report.Warning(startInfo.shown, "is never asked for: its level is not behind the announced data version");
      continue;
    }
    std::vector<unsigned> path{start};
    unsigned level = start;
    while (true) {
      const float reached = pipeline::DottedVersion(lists.at(level).list.targetVersion);
      if (!pipeline::UpdateNeeded(0.0f, reached, announced)) break;
      const unsigned next = NextLevel(lists.at(level).list);
      auto found = lists.find(next);
      if (found == lists.end()) {
        if (gapsReported.insert(next).second) {
          report.Error(lists.at(level).shown, "leads to " + lists.at(level).list.targetVersion + ", but " +
                                                  ListShown(next) +
                                                  " is missing: players stop there with \"patch file not found\"");
        }
        break;
      }
      if (std::find(path.begin(), path.end(), next) != path.end()) {
        std::set<unsigned> cycle(std::find(path.begin(), path.end(), next), path.end());
        if (loopsReported.insert(cycle).second) {
          std::string round;
          for (unsigned member : cycle) round += (round.empty() ? "" : ", ") + pipeline::PatchListName(member);
          report.Error(lists.at(level).shown, "leads back to " + ListShown(next) + ": players patch round " + round +
                                                  " for ever and never reach the announced version");
        }
        break;
      }
      if (!found->second.usable) break;  // reported with the list itself
      path.push_back(next);
      level = next;
    }
  }
}

// An installation keeps every file and folder the archives on its way put there, since a patch
// removes neither: an entry that needs one of them to be the other can never be installed. The
// way from each level is walked, as installations may stand at any of them; clashes within one
// archive are its own check's.
void CheckFolderShapes(const std::map<unsigned, ListInfo>& lists, const ArchiveEntries& archives, Report& report) {
  std::set<std::pair<std::string, size_t>> reported;  // archive and entry
  for (const auto& [start, startInfo] : lists) {
    FolderShape shape;
    std::set<unsigned> walked;
    for (unsigned level = start; walked.insert(level).second;) {
      auto found = lists.find(level);
      if (found == lists.end() || !found->second.usable) break;
      for (const PatchFileEntry& record : found->second.list.entries) {
        const std::string shown = ArchiveShown(record);
        auto archive = archives.find(shown);
        if (archive == archives.end()) continue;
        for (size_t i = 0; i < archive->second.size(); ++i) {
          const std::optional<FolderShape::Clash> clash = shape.Add(archive->second[i].path, shown);
          if (clash && clash->origin != shown && reported.insert({shown, i}).second) {
            ReportClash(*clash, archive->second[i], shown, report);
          }
        }
      }
      level = NextLevel(found->second.list);
    }
  }
}

void CheckFixedFile(const std::string& root, const char* name, const std::string& why, Report& report) {
  const std::string shown = std::string(kPatchFolder) + "/" + name;
  std::error_code error;
  if (!fs::is_regular_file(fs::path(root) / shown, error)) report.Error(shown, "is missing; " + why);
}

}  // namespace

Report CheckTree(const CheckOptions& options) {
  Report report;
  std::error_code error;
  if (!fs::is_directory(options.root, error)) {
    report.Error(options.root, "is not a folder");
    return report;
  }
  ArchiveEntries archives;
  const std::map<unsigned, ListInfo> lists = ReadLists(options.root, archives, report);
  CheckFolderShapes(lists, archives, report);

  const std::array<std::string, 4> none{};
  const std::array<std::string, 4>& versions = options.versions ? *options.versions : none;
  // An empty data version text means the client does not look at the data at all.
  if (!options.versions || !versions[2].empty()) {
    float announced = 0.0f;
    if (options.versions) {
      announced = pipeline::ServerVersion(versions[2]);
    } else {
      for (const auto& [level, info] : lists) {
        if (info.usable) announced = std::max(announced, pipeline::DottedVersion(info.list.targetVersion));
      }
    }
    CheckChains(lists, announced, report);
  }

  if (!versions[0].empty()) {
    const std::string why = "the launcher update (version " + versions[0] + ") stops for every player behind it";
    CheckFixedFile(options.root, kLauncherName, why, report);
    CheckFixedFile(options.root, kAgentListName, why, report);
  }
  if (!versions[1].empty()) {
    CheckFixedFile(options.root, kClientName,
                   "the patch client update (version " + versions[1] + ") stops for every player behind it", report);
  }
  const bool musicListThere = fs::is_regular_file(fs::path(options.root) / kPatchFolder / kMusicListName, error);
  if (!versions[3].empty() && !musicListThere) {
    CheckFixedFile(options.root, kMusicListName,
                   "the music update (version " + versions[3] + ") stops for every player behind it", report);
  } else if (musicListThere) {
    CheckMusic(options.root, report);
  }
  return report;
}

int RunCheck(const CheckOptions& options, std::ostream& out) {
  const Report report = CheckTree(options);
  report.Print(out);
  const int errors = report.Errors();
  const int warnings = static_cast<int>(report.Problems().size()) - errors;
  out << options.root << ": " << errors << (errors == 1 ? " error, " : " errors, ") << warnings
      << (warnings == 1 ? " warning" : " warnings")
      << (errors ? "; some players' updates would fail\n" : "; players can update\n");
  return errors ? 1 : 0;
}

}  // namespace publish

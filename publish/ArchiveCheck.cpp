// One patch archive as the patch worker installs it: the client's reader, its name rule, entries
// that clash as file and folder, and every entry's data against its CRC and sizes.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include "app/PatchClientDlg.h"
#include "install/EntryPaths.h"
#include "install/ZipReader.h"
#include "publish/TreeCheck.h"
#include "platform/files.h"
#include "publish/TreeDiff.h"

namespace publish {
namespace {

namespace fs = std::filesystem;

// The verdict of the client's own unpacking, run in a scratch folder: any rule it holds that the
// checks here do not spell out still decides.
bool ClientUnpacks(const std::string& path) {
  std::error_code error;
  const fs::path archive = fs::absolute(path, error);
  fs::path scratch;
  std::random_device random;
  do {
    scratch = fs::temp_directory_path(error) / ("tarvo-publish-check-" + std::to_string(random()));
  } while (!fs::create_directory(scratch, error) && !error);
  if (error) return true;  // nowhere to try; the checks above have spoken
  const std::string previous = platform::GetCurrentDirectory();
  platform::SetCurrentDirectory(scratch.string());
  const bool unpacked = CPatchClientDlg().UnpackFile(archive.string().c_str()) != 0;
  platform::SetCurrentDirectory(previous);
  fs::remove_all(scratch, error);
  return unpacked;
}

}  // namespace

std::vector<InstalledEntry> CheckArchive(const std::string& path, const std::string& shownName,
                                         const std::string& installName, Report& report) {
  std::unique_ptr<FILE, int (*)(FILE*)> stream(fopen(path.c_str(), "rb"), fclose);
  CZipReader reader;
  // The client's reader decides what it takes; its reason is the report's.
  if (!stream || reader.Open(stream.get()) != 0) {
    const std::string why = stream ? reader.RefusalReason() : "cannot be read";
    report.Error(shownName, reader.RefusedEntryName().empty()
                                ? "the client refuses it: it " + why + " (\"Unzip failed..\")"
                                : "entry '" + Printable(reader.RefusedEntryName()) + "' " + why +
                                      "; the client refuses the whole archive (\"Unzip failed..\")");
    return {};
  }
  if (reader.GetEntryCount() == 0) {
    report.Error(shownName, "holds no entries; the client stops with \"Unzip failed..\"");
    return {};
  }
  const int errorsBefore = report.Errors();
  std::vector<InstalledEntry> entries;
  FolderShape shape;
  for (int i = 0; i < reader.GetEntryCount(); ++i) {
    const std::string stored = Printable(reader.GetEntryNameBytes(i));
    std::optional<std::string> entryPath = EntryPathOf(reader.GetEntryNameBytes(i), reader.IsEntryNameUtf8(i));
    if (!entryPath) {
      report.Error(shownName, "entry '" + stored + "': the client refuses the name, and with it the archive");
      continue;
    }
    entries.push_back({*entryPath, stored});
    // The worker deletes the archive after unpacking it: an entry of the same name goes with it.
    if (FoldCase(*entryPath) == FoldCase(installName)) {
      report.Error(shownName, "entry '" + stored + "' is the archive's own name; it is deleted after unpacking");
    }
    if (std::optional<FolderShape::Clash> clash = shape.Add(*entryPath, shownName)) {
      ReportClash(*clash, entries.back(), shownName, report);
    }
    if (reader.ExtractEntryTo(i, [](const uint8_t*, size_t) { return true; }) != 0) {
      report.Error(shownName, "entry '" + stored + "' is corrupted: its data does not unpack to its CRC and size");
    }
  }
  if (report.Errors() == errorsBefore && !ClientUnpacks(path)) {
    report.Error(shownName, "the client's unpacking refuses it (\"Unzip failed..\")");
  }
  return entries;
}

void ReportClash(const FolderShape::Clash& clash, const InstalledEntry& entry, const std::string& shownName,
                 Report& report) {
  const std::string by = clash.origin == shownName ? "an earlier entry of this archive" : clash.origin;
  const std::string start = "entry '" + entry.shown + "' ";
  if (clash.kind == FolderShape::Clash::kFileOverFolder) {
    report.Error(shownName, start + "is a file where " + by + " makes the folder " + clash.name +
                                ": a patch cannot remove a folder, so the file is never installed, though the client "
                                "records the level");
  } else if (!entry.path.empty() && entry.path.back() == '\\') {
    // A folder entry the client cannot make is passed over; nothing fails, but the folder is missing.
    report.Warning(shownName, start + "is a folder where " + by + " installs the file " + clash.name +
                                  "; the client makes no folder there");
  } else {
    report.Error(shownName, start + "needs a folder where " + by + " installs the file " + clash.name +
                                ": a patch cannot remove a file, so the client fails this level (\"Unzip failed..\") "
                                "on every run");
  }
}

}  // namespace publish

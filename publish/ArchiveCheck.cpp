// One patch archive as the patch worker installs it: the client's reader, its name rule, and
// every entry's data against its CRC and sizes.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>

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

void CheckArchive(const std::string& path, const std::string& shownName, const std::string& installName,
                  Report& report) {
  std::unique_ptr<FILE, int (*)(FILE*)> stream(fopen(path.c_str(), "rb"), fclose);
  CZipReader reader;
  if (!stream || reader.Open(stream.get()) != 0) {
    report.Error(shownName, "the client cannot open it as an archive (end record, comment or directory)");
    return;
  }
  if (reader.GetEntryCount() == 0) {
    report.Error(shownName, "holds no entries; the client stops with \"Unzip failed..\"");
    return;
  }
  const int errorsBefore = report.Errors();
  for (int i = 0; i < reader.GetEntryCount(); ++i) {
    const std::string stored = Printable(reader.GetEntryNameBytes(i));
    std::optional<std::string> entryPath = EntryPathOf(reader.GetEntryNameBytes(i), reader.IsEntryNameUtf8(i));
    if (!entryPath) {
      report.Error(shownName, "entry '" + stored + "': the client refuses the name, and with it the archive");
      continue;
    }
    // The worker deletes the archive after unpacking it: an entry of the same name goes with it.
    if (FoldCase(*entryPath) == FoldCase(installName)) {
      report.Error(shownName, "entry '" + stored + "' is the archive's own name; it is deleted after unpacking");
    }
    if (reader.ExtractEntryTo(i, [](const uint8_t*, size_t) { return true; }) != 0) {
      report.Error(shownName, "entry '" + stored + "' is corrupted: its data does not unpack to its CRC and size");
    }
  }
  if (report.Errors() == errorsBefore && !ClientUnpacks(path)) {
    report.Error(shownName, "the client's unpacking refuses it (\"Unzip failed..\")");
  }
}

}  // namespace publish

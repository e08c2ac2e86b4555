// One patch archive as the patch worker installs it: the client's reader, its name rule, and
// every entry's data against its CRC and sizes.
#include <cstdio>
#include <memory>

#include "install/EntryPaths.h"
#include "install/ZipReader.h"
#include "publish/TreeCheck.h"
#include "publish/TreeDiff.h"

namespace publish {

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
}

}  // namespace publish

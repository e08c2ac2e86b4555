// The music list and the music files it names, as the music step reads and fetches them.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "music/MusicList.h"
#include "music/MusicNames.h"
#include "publish/Layout.h"
#include "publish/TreeCheck.h"

namespace publish {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

void CheckMusic(const std::string& root, Report& report) {
  const std::string listName = std::string(kPatchFolder) + "/" + kMusicListName;
  const std::string bytes = ReadAll(fs::path(root) / listName);
  CMemorySource source(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const std::vector<MusicHeader> records = ReadMusicList(source);
  const uint64_t whole = bytes.size() < 4 ? 0 : (bytes.size() - 4) / kMusicHeaderSize;
  if (records.size() > whole) {
    report.Warning(listName, "its count says more records than the file holds; the client reads the rest as zeros");
  }
  for (const MusicHeader& record : records) {
    const uint32_t id = record.MusicId();
    if (id == 0 || id == kExcludedMusicId) continue;  // zeros, or the song the catalogue leaves out
    const std::string name = MusicFileName(id);
    const std::string shown = std::string(kMusicFolder) + "/" + name;
    const fs::path file = fs::path(root) / kMusicFolder / name;
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
      report.Error(listName, "names music " + std::to_string(id) + " (" + shown +
                                 "), which is missing; players with an older copy stop when they fetch it");
      continue;
    }
    MusicHeader header;
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(header.bytes.data()), kMusicHeaderSize);
    if (in.gcount() != kMusicHeaderSize) {
      report.Error(shown, "is shorter than a music file's header");
    } else if (header.MusicId() != id) {
      report.Error(shown, "holds music " + std::to_string(header.MusicId()) + ", not " + std::to_string(id));
    } else if (header.Version() < record.Version()) {
      report.Warning(shown, "is older than the list says; players fetch it again on every run");
    }
  }
}

}  // namespace publish

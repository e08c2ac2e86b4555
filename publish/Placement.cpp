#include "publish/Placement.h"

#include <filesystem>
#include <fstream>
#include <map>

#include "music/MusicHeader.h"
#include "music/MusicNames.h"
#include "publish/Files.h"
#include "publish/Layout.h"

namespace publish {
namespace {

namespace fs = std::filesystem;

const char* FixedFileName(const std::string& kind) {
  if (kind == "launcher") return kLauncherName;
  if (kind == "agent-list") return kAgentListName;
  if (kind == "client") return kClientName;
  return nullptr;
}

bool ReadHeader(const fs::path& file, MusicHeader& header) {
  std::ifstream in(file, std::ios::binary);
  in.read(reinterpret_cast<char*>(header.bytes.data()), kMusicHeaderSize);
  return in.gcount() == kMusicHeaderSize;
}

}  // namespace

bool IsFixedFileKind(const std::string& kind) { return FixedFileName(kind) != nullptr; }

int PlaceFixedFile(const std::string& kind, const std::string& file, const std::string& root, std::ostream& out,
                   std::ostream& err) {
  std::error_code error;
  if (!fs::is_regular_file(file, error)) {
    err << "tarvo-publish: " << file << " is not a file\n";
    return 1;
  }
  const fs::path target = fs::path(root) / kPatchFolder / FixedFileName(kind);
  std::string why;
  if (!CopyInPlace(file, target, why)) {
    err << "tarvo-publish: " << why << "\n";
    return 1;
  }
  out << kPatchFolder << "/" << FixedFileName(kind) << ": " << fs::file_size(target, error)
      << " bytes; announce a higher version for it so that players fetch it\n";
  return 0;
}

int PublishMusic(const std::vector<std::string>& files, const std::string& root, std::ostream& out,
                 std::ostream& err) {
  const fs::path musicFolder = fs::path(root) / kMusicFolder;
  for (const std::string& file : files) {
    MusicHeader header;
    if (!ReadHeader(file, header)) {
      err << "tarvo-publish: " << file << " is shorter than a music file's header\n";
      return 1;
    }
    std::string why;
    if (!CopyInPlace(file, musicFolder / MusicFileName(header.MusicId()), why)) {
      err << "tarvo-publish: " << why << "\n";
      return 1;
    }
  }

  // The list holds every song on the server, each record the song's own header, by id.
  std::map<uint32_t, MusicHeader> songs;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(musicFolder, error)) {
    MusicHeader header;
    const std::string name = entry.path().filename().string();
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".qkn") != 0 || name[0] == '.') continue;
    if (!ReadHeader(entry.path(), header) || MusicFileName(header.MusicId()) != name) {
      err << "tarvo-publish: " << kMusicFolder << "/" << name << " does not hold the music its name says\n";
      return 1;
    }
    songs[header.MusicId()] = header;
  }
  std::string list;
  const uint32_t count = static_cast<uint32_t>(songs.size());
  for (int i = 0; i < 4; ++i) list += static_cast<char>((count >> (8 * i)) & 0xFF);
  for (const auto& [id, header] : songs) {
    list.append(reinterpret_cast<const char*>(header.bytes.data()), kMusicHeaderSize);
  }

  std::string why;
  if (!WriteInPlace(fs::path(root) / kPatchFolder / kMusicListName, list, why)) {
    err << "tarvo-publish: " << why << "\n";
    return 1;
  }
  out << kPatchFolder << "/" << kMusicListName << ": " << count << " songs from " << kMusicFolder
      << "; announce a higher music version (the fourth) so that players fetch the list\n";
  return 0;
}

}  // namespace publish

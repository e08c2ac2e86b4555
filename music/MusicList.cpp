#include "music/MusicList.h"

#include "app/PatchClientDlg.h"
#include "music/RawFile.h"

namespace {
const char* const kNewMusicListPath = "Image\\Temp\\QKNList_New.dat";
}

std::vector<MusicHeader> ReadMusicList(IByteSource& list) {
  std::vector<MusicHeader> records;
  uint8_t countBytes[4];
  if (list.ReadAt(0, countBytes, 4) != 4) return records;
  uint64_t count = uint32_t(countBytes[0]) | uint32_t(countBytes[1]) << 8 | uint32_t(countBytes[2]) << 16 |
                   uint32_t(countBytes[3]) << 24;
  // Records past the end read as zeros; keep one of them, as a count one too high always gave,
  // and no more.
  const uint64_t bound = (list.Length() - 4) / kMusicHeaderSize + 1;
  if (count > bound) count = bound;
  records.reserve(size_t(count));
  for (uint64_t i = 0; i < count; ++i) {
    MusicHeader record;
    list.ReadAt(4 + i * kMusicHeaderSize, record.bytes.data(), kMusicHeaderSize);
    records.push_back(record);
  }
  return records;
}

std::vector<uint32_t> SelectNewerMusic(const std::vector<MusicHeader>& list,
                                       const std::vector<MusicCatalogEntry>& catalog) {
  std::vector<uint32_t> ids;
  for (const MusicHeader& record : list) {
    const uint32_t id = record.MusicId();
    const float version = record.Version();
    for (const MusicCatalogEntry& entry : catalog) {
      // A NaN compares false, so it never asks for a fetch.
      if (entry.musicId == id && version > entry.version) ids.push_back(id);
    }
  }
  return ids;
}

int CPatchClientDlg::LoadNewMusicList() {
  CRawFile file;
  if (!file.OpenRead(kNewMusicListPath)) return 0;
  CRawFileSource source(file);
  m_newMusicList = ReadMusicList(source);
  file.Close();
  return 1;
}

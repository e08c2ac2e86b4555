// The server's music list: a 32-bit record count followed by 300-byte music headers.
#pragma once
#include <cstdint>
#include <vector>

#include "music/ByteSource.h"
#include "music/MusicHeader.h"

// The records in file order. A short last record reads as zeros past the end. The count is
// untrusted: at most one record beyond the bytes the file holds is taken, so a huge count costs
// no memory.
std::vector<MusicHeader> ReadMusicList(IByteSource& list);

// The ids to fetch again, in list order then catalogue order: each pair of a list record and a
// catalogue entry with the same id where the list's version is greater. Equal versions and NaN on
// either side do not count; an id catalogued twice is named twice.
std::vector<uint32_t> SelectNewerMusic(const std::vector<MusicHeader>& list,
                                       const std::vector<MusicCatalogEntry>& catalog);

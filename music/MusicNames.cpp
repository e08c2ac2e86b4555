#include "music/MusicNames.h"

namespace {
std::string NumberedName(const char* prefix, uint32_t musicId, const char* extension) {
  std::string name = prefix + std::to_string(musicId & 0xFFFF);
  uint32_t variant = musicId >> 16;
  if (variant != 0) name += "_" + std::to_string(variant);
  return name + extension;
}
}  // namespace

std::string MusicFileName(uint32_t musicId) { return NumberedName("zoma", musicId, ".qkn"); }
std::string MusicFilePath(uint32_t musicId) { return "Music\\" + MusicFileName(musicId); }
std::string ThumbnailName(uint32_t musicId) { return NumberedName("SMI_", musicId, ".qks"); }

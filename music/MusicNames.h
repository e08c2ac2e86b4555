// Names derived from a music id: low 16 bits the music number, high 16 bits the variant.
#pragma once
#include <cstdint>
#include <string>

// "zoma<number>.qkn", or "zoma<number>_<variant>.qkn": the name on the server and in the folder.
std::string MusicFileName(uint32_t musicId);
// "Music\zoma<number>.qkn", or "Music\zoma<number>_<variant>.qkn" for a variant.
std::string MusicFilePath(uint32_t musicId);
// "SMI_<number>.qks", or "SMI_<number>_<variant>.qks": the thumbnail's name in the image pack.
std::string ThumbnailName(uint32_t musicId);

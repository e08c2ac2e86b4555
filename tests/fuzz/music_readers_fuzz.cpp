// Arbitrary bytes as an image pack and as a music list: the readers must neither crash, read out
// of bounds, nor allocate more than the input can justify.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "music/ImagePack.h"
#include "music/MusicList.h"
#include "skin/Dib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMemorySource source(data, size);

  // The list: at most one record more than the bytes hold.
  std::vector<MusicHeader> list = ReadMusicList(source);
  if (list.size() > size / kMusicHeaderSize + 1) __builtin_trap();

  for (const char* name : {"SMI_1.qks", "smi_42_3.QKS"}) {
    PackPicture picture;
    if (!FindPackPicture(source, name, picture)) continue;
    if (2ull * picture.width * picture.height > size) __builtin_trap();
    std::vector<uint16_t> pixels;
    if (!ReadPackPixels(source, picture, pixels)) continue;
    CDib image;
    if (!ConvertPixels(pixels, picture.width, picture.height, image)) continue;
    CDibRowTable rows(image);
    // Touch every converted byte as the writer of the bitmap would.
    volatile uint8_t sink = 0;
    for (int y = picture.height - 1; y >= 0; --y)
      for (int x = 0; x < 3 * picture.width; ++x) sink = sink ^ rows[y][x];
    (void)ThumbnailBitmapHeaders(picture.width, picture.height);
  }
  return 0;
}

#include <algorithm>
#include <vector>

#include "app/PatchClientDlg.h"
#include "music/ImagePack.h"
#include "music/MusicNames.h"
#include "music/RawFile.h"
#include "skin/Dib.h"

namespace {

const char* const kImagePackPath = "Image\\Interface1.zpi";
constexpr size_t kOutputBufferBytes = 64 * 1024;

// Where the bitmap goes: behind the file's last data block. A place inside the header would
// overwrite the header just written, a place past the end would leave a hole of up to 4 GiB, and
// a place the file's seek cannot reach would put the bitmap behind the header instead; such a
// header is damaged and the file is left alone.
bool ThumbnailPlace(const MusicHeader& header, uint64_t fileLength, uint32_t& place) {
  uint64_t target = uint64_t(header.LastBlockOffset()) + header.LastBlockSize();
  if (target < kMusicHeaderSize || target > fileLength || target > 0x7FFFFFFF) return false;
  place = uint32_t(target);
  return true;
}

}  // namespace

void CPatchClientDlg::EmbedMissingThumbnails() {
  for (const MusicCatalogEntry& entry : m_musicCatalog)
    if (entry.hasThumbnail == 0) EmbedThumbnail(entry.musicId);
}

int CPatchClientDlg::EmbedThumbnail(uint32_t musicId) {
  CRawFile pack;
  if (!pack.OpenRead(kImagePackPath)) return 0;
  CRawFileSource packSource(pack);
  PackPicture picture;
  if (!FindPackPicture(packSource, ThumbnailName(musicId), picture)) {
    pack.Close();
    return 0;
  }
  const int width = picture.width;
  const int height = picture.height;
  const uint64_t bitmapSize = kBitmapHeadersSize + 3ull * uint64_t(width) * uint64_t(height);
  if (bitmapSize > 0x7FFFFFFF) {
    pack.Close();
    return 0;
  }

  CRawFile music;
  const std::string musicPath = MusicFilePath(musicId);
  MusicHeader header;
  uint32_t place = 0;
  if (!music.Open(musicPath.c_str(), platform::kGenericRead | platform::kGenericWrite, platform::kShareNone,
                  platform::kOpenExisting) ||
      music.Read(header.bytes.data(), kMusicHeaderSize) != kMusicHeaderSize ||
      !ThumbnailPlace(header, music.Length(), place)) {
    music.Close();
    pack.Close();
    return 0;
  }

  std::vector<uint16_t> pixels;
  CDib image;
  if (!ReadPackPixels(packSource, picture, pixels) || !ConvertPixels(pixels, width, height, image)) {
    music.Close();
    pack.Close();
    return 0;
  }
  pixels = {};  // the source is no longer needed while the file is written
  pack.Close();

  // The bitmap goes first and the header that announces it last, so a run cut short in between
  // leaves a file without the flag, which the next run completes.
  bool written = music.Seek(int32_t(place), platform::kFileBegin) == place;
  {
    CDibRowTable rows(image);
    // The stored rows are padded to 4-byte words; the appended bitmap's rows are not. Rows are
    // gathered into one bounded buffer so a thumbnail takes a few writes instead of one per row.
    const size_t rowBytes = 3u * size_t(width);
    std::vector<uint8_t> out;
    out.reserve(std::max(kOutputBufferBytes, kBitmapHeadersSize + rowBytes));
    const auto headers = ThumbnailBitmapHeaders(width, height);
    out.assign(headers.begin(), headers.end());
    auto flush = [&] {
      written = written && music.Write(out.data(), uint32_t(out.size())) == out.size();
      out.clear();
    };
    for (int y = height - 1; written && y >= 0; --y) {
      if (out.size() + rowBytes > out.capacity()) flush();
      out.insert(out.end(), rows[y], rows[y] + rowBytes);
    }
    if (!out.empty()) flush();
  }  // the row table goes before the image's block
  header.bytes[99] = 1;
  header.SetU32(100, uint32_t(bitmapSize));
  written = written && music.Seek(0, platform::kFileBegin) == 0 &&
            music.Write(header.bytes.data(), kMusicHeaderSize) == kMusicHeaderSize;
  image.Free();
  music.Close();
  return written ? 1 : 0;
}

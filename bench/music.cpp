// Music library throughput: the catalogue scan of a large music folder and the embedding of
// thumbnails, against `head -c 300` reading the same headers in the same run.
//
//   music [files] [thumbnails]     (defaults: 20000 files of 1-5 MiB, sparse; 1000 thumbnails)
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/PatchClientDlg.h"
#include "platform/files.h"

namespace fs = std::filesystem;

namespace {

void PutU16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <class F>
double BestOf(int runs, F f) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    f();
    best = std::min(best, Seconds(start));
  }
  return best;
}

// A sparse music file: a header whose last data block ends at the file's end, then a hole.
void WriteMusicFile(const std::string& path, uint32_t id, uint32_t size) {
  std::vector<uint8_t> header(300, 0);
  PutU32(header, 0, id);
  const float version = 1.0f;
  std::memcpy(header.data() + 104, &version, 4);
  PutU32(header, 268, size - 1000);
  PutU32(header, 296, 1000);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::write(fd, header.data(), header.size()) != ssize_t(header.size()) || ::ftruncate(fd, size) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  ::close(fd);
}

// An image pack of 80 × 80 pictures named SMI_1.qks ... SMI_<count>.qks.
void WriteImagePack(const std::string& path, int count) {
  std::vector<uint8_t> pack(16, 0);
  PutU32(pack, 4, uint32_t(count));
  std::vector<uint32_t> offsets;
  for (int i = 1; i <= count; ++i) {
    size_t at = pack.size();
    offsets.push_back(uint32_t(at));
    pack.resize(at + 28 + 2 * 80 * 80, 0);
    PutU16(pack, at + 2, 0x0555);
    PutU16(pack, at + 4, 1);
    PutU16(pack, at + 12, 80);
    PutU16(pack, at + 14, 80);
    for (size_t p = 0; p < 80 * 80; ++p) PutU16(pack, at + 28 + 2 * p, uint16_t(p * 31 + size_t(i)));
  }
  for (int i = 1; i <= count; ++i) {
    size_t at = pack.size();
    pack.resize(at + 152, 0);
    std::string name = "SMI_" + std::to_string(i) + ".qks";
    std::memcpy(pack.data() + at + 4, name.data(), name.size());
    PutU32(pack, at + 132, offsets[size_t(i - 1)]);
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(pack.data(), 1, pack.size(), f) != pack.size()) std::exit(1);
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int thumbnails = argc > 2 ? std::min(std::atoi(argv[2]), files) : std::min(1000, files);
  if (files <= 0) return 2;

  char folderTemplate[] = "/tmp/tarvo_music_bench_XXXXXX";
  if (!mkdtemp(folderTemplate)) return 1;
  const std::string game = folderTemplate;
  fs::create_directories(game + "/Music");
  fs::create_directories(game + "/Image");
  std::srand(12345);
  for (int i = 1; i <= files; ++i) {
    uint32_t size = uint32_t(1 << 20) + uint32_t(std::rand() % (4 << 20));
    WriteMusicFile(game + "/Music/zoma" + std::to_string(i) + ".qkn", uint32_t(i), size);
  }
  WriteImagePack(game + "/Image/Interface1.zpi", thumbnails);
  std::printf("music folder: %d sparse files of 1-5 MiB; image pack: %d pictures of 80 x 80\n", files, thumbnails);

  platform::SetCurrentDirectory(game);
  const std::string headCommand =
      "cd '" + game + "/Music' && find . -name '*.qkn' -print0 | xargs -0 head -q -c 300 > /dev/null";
  const double headSeconds = BestOf(3, [&] {
    if (std::system(headCommand.c_str()) != 0) std::fprintf(stderr, "head baseline failed\n");
  });

  CPatchClientDlg dlg;
  const double scanSeconds = BestOf(3, [&] { dlg.ScanMusicFolder(); });
  std::printf("catalogue entries: %zu\n", dlg.m_musicCatalog.size());

  auto start = std::chrono::steady_clock::now();
  int embedded = 0;
  for (int id = 1; id <= thumbnails; ++id) embedded += dlg.EmbedThumbnail(uint32_t(id));
  const double embedSeconds = Seconds(start);

  const double headRate = files / headSeconds;
  const double scanRate = files / scanSeconds;
  const double embedRate = embedded / embedSeconds;
  std::printf("baseline head -c 300: %.3f s, %.0f files/s\n", headSeconds, headRate);
  std::printf("scan:                 %.3f s, %.0f files/s, %.2f x the baseline's rate\n", scanSeconds, scanRate,
              scanRate / headRate);
  std::printf("embed:                %.3f s, %d thumbnails, %.0f files/s, %.3f x the baseline's rate\n", embedSeconds,
              embedded, embedRate, embedRate / headRate);

  platform::SetCurrentDirectory("/");
  fs::remove_all(game);
  return embedded == thumbnails ? 0 : 1;
}

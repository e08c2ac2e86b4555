// Arbitrary bytes as a patch archive: the reader and the unpacking must neither crash nor read out
// of bounds, and whatever they write stays inside the scratch game folder.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/PatchClientDlg.h"
#include "install/ZipReader.h"

namespace fs = std::filesystem;

namespace {

// The game folder sits three levels below the scratch folder, so a name that climbs out with up
// to three ".." shows up as an extra entry on the way.
fs::path g_scratch;
fs::path g_game;
fs::path g_startFolder;  // given back after each input: the fuzzer's own paths are relative to it

size_t CountEntries(const fs::path& folder) {
  size_t count = 0;
  for (auto it = fs::directory_iterator(folder); it != fs::directory_iterator(); ++it) ++count;
  return count;
}

void ExerciseReader(const std::string& archive) {
  FILE* stream = fopen(archive.c_str(), "rb");
  if (!stream) return;
  CZipReader reader;
  if (reader.Open(stream) == 0) {
    char name[CZipReader::kMaxNameLength + 1];
    for (int i = -1; i <= reader.GetEntryCount(); ++i) {
      reader.GetEntryName(i, name);
      int64_t size = reader.GetEntrySize(i);
      // The buffer form, where the declared size is small enough to hold.
      if (size >= 0 && size <= (1 << 20)) {
        std::vector<unsigned char> buffer(static_cast<size_t>(size) + 1);
        reader.ExtractEntry(i, buffer.data());
      }
    }
  }
  reader.Close();
  fclose(stream);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/tarvo-zip-fuzz-XXXXXX";
  if (!mkdtemp(pattern)) __builtin_trap();
  g_scratch = pattern;
  g_startFolder = fs::current_path();
  g_game = g_scratch / "one" / "two" / "game";
  fs::create_directories(g_game);
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(g_scratch, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string archive = (g_scratch / "input.zip").string();
  FILE* out = fopen(archive.c_str(), "wb");
  if (!out) __builtin_trap();
  if (size) fwrite(data, 1, size, out);
  fclose(out);

  ExerciseReader(archive);

  fs::current_path(g_game);
  CPatchClientDlg dlg;
  dlg.UnpackFile(archive.c_str());
  fs::current_path(g_startFolder);

  if (CountEntries(g_scratch) != 2 || CountEntries(g_scratch / "one") != 1 ||
      CountEntries(g_scratch / "one" / "two") != 1) {
    __builtin_trap();
  }
  fs::remove_all(g_game);
  fs::create_directory(g_game);
  return 0;
}

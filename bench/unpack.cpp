// Patch archive unpacking: UnpackFile against Info-ZIP `unzip -o -q` on the same archive of
// game-like data (thousands of small files and a few large entries), alternating in one run.
// Each unpack runs in a child process of its own, so that its peak resident size is its own.
//
//   unpack [rounds] [large MiB]     (defaults: 5 rounds; two large entries of 176 MiB each)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/PatchClientDlg.h"

namespace fs = std::filesystem;

namespace {

struct Run {
  double seconds;
  long peakKiB;
  int status;
};

class Random {
 public:
  explicit Random(uint64_t seed) : m_state(seed | 1) {}
  uint64_t Next() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 7;
    m_state ^= m_state << 17;
    return m_state;
  }

 private:
  uint64_t m_state;
};

// Bytes that compress as game files do: stretches of noise (compressed textures, sound) between
// stretches of structure (tables, text, padding).
void WriteGameData(const fs::path& path, uint64_t size, uint64_t seed, int noisePercent) {
  static const char* const kWords[] = {"note", "speed", "combo", "track", "stage", "beat", "level", "skin", "zoma", "lane"};
  Random random(seed);
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) std::exit(2);
  std::vector<char> block(64 * 1024);
  for (uint64_t written = 0; written < size;) {
    size_t length = std::min<uint64_t>(block.size(), size - written);
    if (static_cast<int>(random.Next() % 100) < noisePercent) {
      for (size_t i = 0; i + 8 <= length; i += 8) {
        uint64_t v = random.Next();
        std::copy_n(reinterpret_cast<const char*>(&v), 8, &block[i]);
      }
    } else {
      size_t i = 0;
      while (i < length) {
        const char* word = kWords[random.Next() % 10];
        for (const char* c = word; *c && i < length; ++c) block[i++] = *c;
        if (i < length) block[i++] = (random.Next() % 8) ? ' ' : '\n';
      }
    }
    fwrite(block.data(), 1, length, out);
    written += length;
  }
  fclose(out);
}

void MakeSourceTree(const fs::path& root, uint64_t largeMiB) {
  Random random(42);
  for (int folder = 0; folder < 40; ++folder) {
    fs::path dir = root / "Data" / ("Stage" + std::to_string(folder)) / "Assets";
    fs::create_directories(dir);
    for (int file = 0; file < 100; ++file) {
      uint64_t size = 512 + random.Next() % (40 * 1024);
      WriteGameData(dir / ("item" + std::to_string(file) + ".dat"), size, random.Next(), 50);
    }
  }
  fs::create_directories(root / "Image");
  WriteGameData(root / "Image" / "Interface1.zpi", largeMiB << 20, 7, 60);
  WriteGameData(root / "Data" / "Sound.pak", largeMiB << 20, 8, 70);
}

Run Measure(const std::vector<std::string>& argv, const fs::path& folder) {
  fs::create_directories(folder);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(3);
    execv(args[0], args.data());
    _exit(4);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return {seconds, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Settle(const fs::path& folder) {
  fs::remove_all(folder);
  sync();  // the next run must not pay for this one's write-back
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--client") {
    CPatchClientDlg dlg;
    return dlg.UnpackFile(argv[2]) == 1 ? 0 : 1;
  }
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  uint64_t largeMiB = argc > 2 ? std::max(1, std::atoi(argv[2])) : 176;

  char pattern[] = "/tmp/tarvo-bench-unpack-XXXXXX";
  if (!mkdtemp(pattern)) return 2;
  fs::path work = pattern;
  fs::path archive = work / "patch.zip";
  MakeSourceTree(work / "source", largeMiB);
  std::string zip = "cd '" + (work / "source").string() + "' && zip -q -r -6 '" + archive.string() + "' Data Image";
  if (std::system(zip.c_str()) != 0) return 2;
  fs::remove_all(work / "source");
  std::printf("archive: %.1f MiB, 4000 small files and two entries of %llu MiB\n",
              fs::file_size(archive) / 1048576.0, static_cast<unsigned long long>(largeMiB));

  std::string self = fs::canonical("/proc/self/exe").string();
  std::vector<std::string> clientArgs{self, "--client", archive.string()};
  std::vector<std::string> unzipArgs{"/usr/bin/unzip", "-o", "-q", archive.string()};
  std::vector<double> clientTimes, unzipTimes;
  long clientPeak = 0, unzipPeak = 0;
  bool identical = true;
  sync();
  for (int round = 0; round < rounds; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      bool client = (turn == 0) == (round % 2 == 0);  // alternate which one goes first
      fs::path folder = work / (client ? "client" : "unzip");
      Run run = Measure(client ? clientArgs : unzipArgs, folder);
      if (run.status != 0) {
        std::fprintf(stderr, "%s failed with status %d\n", client ? "UnpackFile" : "unzip", run.status);
        return 1;
      }
      (client ? clientTimes : unzipTimes).push_back(run.seconds);
      long& peak = client ? clientPeak : unzipPeak;
      peak = std::max(peak, run.peakKiB);
    }
    if (round == 0) {
      std::string diff = "diff -r -q '" + (work / "client").string() + "' '" + (work / "unzip").string() + "' >/dev/null";
      identical = std::system(diff.c_str()) == 0;
    }
    Settle(work / "client");
    Settle(work / "unzip");
  }
  fs::remove_all(work);

  double client = Median(clientTimes), unzip = Median(unzipTimes);
  std::printf("UnpackFile: median %.3f s, peak RSS %.1f MiB\n", client, clientPeak / 1024.0);
  std::printf("unzip -o -q: median %.3f s, peak RSS %.1f MiB\n", unzip, unzipPeak / 1024.0);
  std::printf("time ratio client/unzip: %.3f (%d rounds, outputs %s)\n", client / unzip, rounds,
              identical ? "identical" : "DIFFERENT");
  return identical ? 0 : 1;
}

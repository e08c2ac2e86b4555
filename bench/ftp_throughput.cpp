// Throughput of the client's FTP fetch against the curl command line, on one local FTP server.
//
// Downloads the same file (512 MiB unless the first argument gives MiB) alternately with the
// client's shared fetch procedure (console front end attached, so every block updates the view
// model it draws) and with `curl`, several times (second argument, default 9), and prints the
// median of the per-round ratios client/curl. Not a test: nothing is asserted.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/PatchClientDlg.h"
#include "platform/files.h"
#include "session/StopCodes.h"
#include "support/FtpServer.h"
#include "transfer/FtpFetch.h"
#include "ui/console/ConsoleFrontEnd.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

void WritePatternFile(const std::string& path, uint64_t bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> block(1 << 20);
  uint32_t state = 0x9E3779B9u;
  for (uint64_t written = 0; written < bytes; written += block.size()) {
    for (char& c : block) {
      state = state * 1664525u + 1013904223u;
      c = static_cast<char>(state >> 24);
    }
    out.write(block.data(), static_cast<std::streamsize>(std::min<uint64_t>(block.size(), bytes - written)));
  }
}

double CpuSeconds(const rusage& usage) {
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return CpuSeconds(usage);
}

// Wall time of one curl run; its processor time goes to `cpuSeconds`.
double RunCurl(const std::string& url, const std::string& output, double& cpuSeconds) {
  std::vector<std::string> args = {"curl", "-s", "-S", "-o", output, url};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  cpuSeconds = CpuSeconds(usage);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

// Sends standard output to /dev/null while the console front end draws, so the figures stay readable.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    m_saved = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(m_saved, STDOUT_FILENO);
    close(m_saved);
  }

 private:
  int m_saved = -1;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
  const uint64_t bytes = mebibytes << 20;

  // Both downloads land in memory when it can hold them, so that the disk's write-back stalls
  // (which hit whichever program happens to be writing) do not drown the difference measured.
  std::string outputRoot = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/tarvo-bench-XXXXXX"
                                                                     : "/tmp/tarvo-bench-XXXXXX";
  if (!mkdtemp(outputRoot.data())) return 1;
  struct RemoveAtEnd {
    std::string path;
    ~RemoveAtEnd() { std::filesystem::remove_all(path); }
  } removeOutputs{outputRoot};
  const std::string game = outputRoot + "/game";
  std::filesystem::create_directories(game);
  const std::string registry = outputRoot + "/registry.reg";
  {
    std::ofstream out(registry);
    out << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brix\\Tarvo]\n\"defaultdir\"=\"" << game << "\"\n";
  }
  setenv("TARVO_REGISTRY", registry.c_str(), 1);
  for (const char* name : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);

  FtpServer server;
  WritePatternFile(server.Root() + "/TarvoPatch/big.bin", bytes);
  setenv("TARVO_FTP_PORT", std::to_string(server.Port()).c_str(), 1);
  const std::string url = "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/TarvoPatch/big.bin";
  platform::SetCurrentDirectory(game);

  ConsoleFrontEnd console;
  CPatchClientDlg dlg(&console);
  std::thread loop([&] { dlg.Loop().Run(); });
  dlg.Loop().Invoke([] {});
  dlg.View().SetBarRange(IDC_FILE_PROGRESS, 0, 1000);
  dlg.View().SetBarRange(IDC_TOTAL_PROGRESS, 0, 1000);
  dlg.m_ftpHosts = {"127.0.0.1"};

  FetchPlan plan;
  plan.hosts = &dlg.m_ftpHosts;
  plan.remoteFolderName = "TarvoPatch";
  plan.localFolder = "Temp";
  plan.localFolderToRemove = "Temp";
  plan.remoteName = "big.bin";
  plan.localName = "big.bi_";
  plan.downloadStopCode = STOP_UNFORESEEN;

  double clientCpu = 0, curlCpu = 0;
  auto runClient = [&]() -> double {
    QuietStdout quiet;
    console.Attach(dlg);
    auto start = Clock::now();
    double cpuStart = ThreadCpuSeconds();
    bool ok = RunFetch(dlg, plan);
    clientCpu = ThreadCpuSeconds() - cpuStart;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    console.Detach();
    return ok && std::filesystem::file_size(game + "/Temp/big.bi_") == bytes ? seconds : -1;
  };
  auto runCurl = [&]() -> double {
    double seconds = RunCurl(url, game + "/curl.bin", curlCpu);
    return seconds >= 0 && std::filesystem::file_size(game + "/curl.bin") == bytes ? seconds : -1;
  };

  std::printf("ftp_throughput: %llu MiB from a local FTP server into %s, %d rounds, alternating order\n",
              static_cast<unsigned long long>(mebibytes), outputRoot.c_str(), rounds);
  std::vector<double> ratios, cpuRatios;
  for (int round = 0; round < rounds; ++round) {
    double client = 0, curl = 0;
    if (round % 2 == 0) {
      client = runClient();
      curl = runCurl();
    } else {
      curl = runCurl();
      client = runClient();
    }
    std::filesystem::remove(game + "/Temp/big.bi_");
    std::filesystem::remove(game + "/curl.bin");
    if (client < 0 || curl < 0) {
      std::printf("round %d: a download failed (client %.3f s, curl %.3f s)\n", round + 1, client, curl);
      continue;
    }
    double ratio = client / curl;
    ratios.push_back(ratio);
    if (curlCpu > 0) cpuRatios.push_back(clientCpu / curlCpu);
    std::printf("round %d: client %.3f s (%.0f MiB/s, cpu %.3f s)  curl %.3f s (%.0f MiB/s, cpu %.3f s)  ratio %.3f\n",
                round + 1, client, mebibytes / client, clientCpu, curl, mebibytes / curl, curlCpu, ratio);
  }

  dlg.PostQuitMessage();
  loop.join();
  platform::SetCurrentDirectory("/");
  if (ratios.empty()) {
    std::printf("no round completed\n");
    return 1;
  }
  std::printf("median ratio client/curl: %.3f (target <= 1.05)\n", Median(ratios));
  if (!cpuRatios.empty()) std::printf("median processor-time ratio client/curl: %.3f\n", Median(cpuRatios));
  return 0;
}

#include "support/FtpServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

#ifndef TARVO_SOURCE_DIR
#error "TARVO_SOURCE_DIR must name the source tree"
#endif

extern char** environ;

namespace {

// Reads "PORT <n>" from the server's standard output, or fails after `timeoutMs`.
int ReadPortLine(int fd, int timeoutMs) {
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (line.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    pollfd pfd{fd, POLLIN, 0};
    int ready = poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return 0;
    char buffer[128];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;  // the server ended before it listened
    line.append(buffer, static_cast<size_t>(n));
  }
  int port = 0;
  if (sscanf(line.c_str(), "PORT %d", &port) != 1) return 0;
  return port;
}

}  // namespace

FtpServer::FtpServer() : FtpServer(Options{}) {}

FtpServer::FtpServer(Options options) {
  m_root = options.root.empty() ? m_temp / "root" : options.root;
  fs::create_directories(m_root);
  m_logPath = m_temp / "server.log";

  std::vector<std::string> args = {"/usr/bin/python3", TARVO_SOURCE_DIR "/tests/support/ftp_server.py",
                                   "--root", m_root, "--log", m_logPath};
  for (const auto& name : options.cutFirstTransferOf) {
    args.push_back("--cut");
    args.push_back(name);
  }
  args.push_back("--cut-times");
  args.push_back(std::to_string(options.cutTimes));
  for (const auto& name : options.slowFiles) {
    args.push_back("--slow");
    args.push_back(name);
  }
  args.push_back("--slow-chunk");
  args.push_back(std::to_string(options.slowChunkBytes));
  for (const auto& announced : options.announcedSizes) {
    args.push_back("--announce");
    args.push_back(announced);
  }
  for (const auto& name : options.endlessFiles) {
    args.push_back("--endless");
    args.push_back(name);
  }
  args.push_back("--drop-after");
  args.push_back(std::to_string(options.dropAfterBytes));
  args.push_back("--drop-times");
  args.push_back(std::to_string(options.dropTimes));
  if (options.noRest) args.push_back("--no-rest");
  if (options.ignoreRest) args.push_back("--ignore-rest");
  if (options.noMdtm) args.push_back("--no-mdtm");

  if (!options.cutRandomly.empty()) {
    args.push_back("--cut-random");
    args.push_back(options.cutRandomly);
  }
  for (const auto& stall : options.stalls) {
    args.push_back("--stall");
    args.push_back(stall);
  }

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    m_pid = -1;
    throw std::runtime_error(std::string("cannot start the FTP server: ") + strerror(rc));
  }
  m_port = ReadPortLine(pipeFds[0], 15000);
  close(pipeFds[0]);
  if (m_port == 0) {
    Stop();
    throw std::runtime_error("the FTP server did not start listening");
  }
}

FtpServer::~FtpServer() { Stop(); }

void FtpServer::Kill() {
  if (m_pid > 0) kill(m_pid, SIGKILL);
  Stop();
}

void FtpServer::Stop() {
  if (m_pid > 0) {
    kill(m_pid, SIGTERM);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
  }
}

void FtpServer::PutFile(const std::string& relativePath, const std::string& content) const {
  fs::path path = fs::path(m_root) / relativePath;
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string FtpServer::PutPatternFile(const std::string& relativePath, size_t size) const {
  std::string content(size, '\0');
  uint32_t state = 0x12345678u ^ static_cast<uint32_t>(size);
  for (size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    content[i] = static_cast<char>(state >> 24);
  }
  PutFile(relativePath, content);
  return content;
}

std::string FtpServer::Log() const {
  std::ifstream in(m_logPath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int FtpServer::CountInLog(std::string_view needle) const {
  std::string log = Log();
  int count = 0;
  for (size_t pos = log.find(needle); pos != std::string::npos; pos = log.find(needle, pos + needle.size())) ++count;
  return count;
}

std::vector<std::string> FtpServer::LogLines(std::string_view needle) const {
  std::istringstream in(Log());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (line.find(needle) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

std::vector<long long> FtpServer::AcceptedRestOffsets() const {
  std::vector<long long> offsets;
  for (const std::string& line : LogLines("-> 350 Restarting at position ")) {
    long long offset = std::atoll(line.c_str() + line.find("position ") + 9);
    if (offset > 0) offsets.push_back(offset);
  }
  return offsets;
}

long long FtpServer::BytesSentOf(std::string_view name) const {
  // The server logs each transfer as "RETR <path> completed=<0|1> bytes=<n> seconds=<s>".
  long long total = 0;
  for (const std::string& line : LogLines(" completed=")) {
    size_t completed = line.find(" completed=");
    size_t retr = line.find("RETR ");
    if (retr == std::string::npos || completed < name.size() ||
        line.compare(completed - name.size(), name.size(), name) != 0) {
      continue;
    }
    size_t bytes = line.find(" bytes=", completed);
    if (bytes != std::string::npos) total += std::atoll(line.c_str() + bytes + 7);
  }
  return total;
}

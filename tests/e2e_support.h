// Helpers of the end-to-end tests: a demo world made by tools/make_demo_world.py, the patch server
// configuration that describes it, registry values, and a control-connection proxy that refuses
// chosen FTP connections.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/ClientProcess.h"
#include "support/FtpServer.h"

namespace e2e {

constexpr int kWaitMs = 30000;

// Waits until `path` holds at least `bytes`. The world's programs write their notes whole (under
// another name first, or in one write), so a note with content is complete.
inline bool WaitForFile(const std::string& path, int ms, uintmax_t bytes = 1) {
  namespace fs = std::filesystem;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::error_code ec;
  while (!fs::exists(path, ec) || fs::file_size(path, ec) < bytes || ec) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The demo world's data patch from level 1.0: the list, then the archives with the last record
// first, all installed into `game` with nothing left behind.
inline void ExpectDemoDataPatchInstalled(const FtpServer& ftp, const std::string& game) {
  namespace fs = std::filesystem;
  std::vector<std::string> fetched = ftp.LogLines("<- RETR ");
  ASSERT_EQ(fetched.size(), 6u) << ftp.Log();
  const char* const order[] = {"FileList_100.dat", "T_120.zip", "PatchMusic_120.zip",
                               "C_120.zip",        "B_110.zip", "A_110.zip"};
  for (size_t i = 0; i < fetched.size(); ++i) EXPECT_NE(fetched[i].find(order[i]), std::string::npos) << fetched[i];
  EXPECT_EQ(ftp.LoginCount(), 2);  // the list, then one connection for every archive
  EXPECT_EQ(ReadTextFile(game + "/Data/order.txt"), "A");
  EXPECT_EQ(ReadTextFile(game + "/Data/a.dat"), "a, level 1.1");
  EXPECT_EQ(ReadTextFile(game + "/Data/Sub/deep.dat"), "deep");
  EXPECT_EQ(fs::file_size(game + "/Texture/pack.bin"), 3u << 20);
  EXPECT_FALSE(fs::exists(game + "/Music/Temp"));
  for (const char* leftover : {"Data/A_110.zip", "Data/C_120.zip", "PatchMusic_120.zip", "TempList.dat"}) {
    EXPECT_FALSE(fs::exists(game + "/" + leftover)) << leftover;
  }
}

// The launcher, agent list and client fetched in that order, and the new launcher started at the end.
inline void ExpectLauncherUpdateRestartedTheNewLauncher(const FtpServer& ftp, const std::string& game,
                                                        const std::string& remote, int waitMs) {
  std::vector<std::string> fetched = ftp.LogLines("<- RETR ");
  ASSERT_EQ(fetched.size(), 3u) << ftp.Log();
  EXPECT_NE(fetched[0].find("Tarvo.exe"), std::string::npos);
  EXPECT_NE(fetched[1].find("AgentIP.ini"), std::string::npos);
  EXPECT_NE(fetched[2].find("TarvoPatchClient.exe"), std::string::npos);
  // The new launcher, put in place and made startable, is the one started at the end.
  ASSERT_TRUE(WaitForFile(game + "/launcher_runs.txt", waitMs));
  EXPECT_EQ(ReadTextFile(game + "/launcher_runs.txt"), "new \n");
  EXPECT_EQ(ReadTextFile(game + "/AgentIP.ini"), ReadTextFile(remote + "/TarvoPatch/AgentIP.ini"));
}
// Versions of a world with a data patch due (1.0 → 1.2.3 over two levels); launcher, client and
// music current.
inline const char* const kDataPatchDue = "1.0,1.0,1.2.3,1.0";

// Builds a world in `folder` with make_demo_world.py; versions as it takes them ("1.0,1.0,1.2.3,1.0").
inline bool MakeWorld(const std::string& folder, const std::string& serverVersions,
                      const std::string& registryVersions, const std::string& extraArgs = "") {
  std::string command = "/usr/bin/python3 " TARVO_SOURCE_DIR "/tools/make_demo_world.py --publish '" TARVO_PUBLISH_BINARY
                        "' --out '" + folder + "' --server-versions '" + serverVersions + "' --registry-versions '" + registryVersions +
                        "' " + extraArgs + " > /dev/null";
  return std::system(command.c_str()) == 0;
}

// The patch server configuration body for a world: its versions, FTP root, host entries, settings
// and game servers (JSON texts).
inline std::string PatchConfig(const std::string& serverVersions,
                               const std::string& gameServers = R"([["127.0.0.1", 9000]])",
                               const std::string& entries = R"(["1:127.0.0.1", "2:127.0.0.1"])",
                               const std::string& flags = "[1, 2, 3, 4, 5, 6, 7, 8]") {
  std::string versions;
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    size_t comma = serverVersions.find(',', start);
    versions += (i ? ", \"" : "\"") + serverVersions.substr(start, comma - start) + "\"";
    start = comma == std::string::npos ? serverVersions.size() : comma + 1;
  }
  return R"("versions": [)" + versions + R"(], "ftp_root": "/tarvo", "game_arg": "demo", "entries": )" + entries +
         R"(, "flags": )" + flags + R"(, "game_servers": )" + gameServers;
}

// Starts the client on the one patch server at `patchPort` for a world's registry file and FTP
// server, in the console front end, with `extraEnv` added to its environment.
inline bool StartClient(ClientProcess& client, const std::string& registryFile, int patchPort, int ftpPort,
                        std::map<std::string, std::string> extraEnv = {}, const std::string& workDir = "") {
  extraEnv.insert({{"TARVO_REGISTRY", registryFile}, {"TARVO_FTP_PORT", std::to_string(ftpPort)}, {"TARVO_UI", "console"}});
  return client.Start({"1", "127.0.0.1", std::to_string(patchPort)}, extraEnv, "", workDir);
}

// The registry file's "VersionN" as a float; NaN when it is missing.
inline float RegistryVersion(const std::string& registryFile, int n) {
  std::smatch match;
  std::string text = ReadTextFile(registryFile);
  std::regex value("\"Version" + std::to_string(n) + "\"=dword:([0-9a-fA-F]{8})");
  if (!std::regex_search(text, match, value)) return NAN;
  uint32_t bits = static_cast<uint32_t>(std::stoul(match[1].str(), nullptr, 16));
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// Accepts control connections on a port of its own and passes them through to the FTP server,
// except the connections whose ordinal (from 1) is in `refused`: those are closed at once, as a
// server that goes away between two connections. Data connections go to the server directly.
class RefusingProxy {
 public:
  RefusingProxy(int upstreamPort, std::set<int> refused) : m_upstreamPort(upstreamPort), m_refused(std::move(refused)) {
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(m_listen, 16) == 0 &&
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      m_port = ntohs(address.sin_port);
    }
    m_acceptThread = std::thread([this] { AcceptLoop(); });
  }
  ~RefusingProxy() {
    m_stop = true;
    m_acceptThread.join();
    for (std::thread& pump : m_pumps) pump.join();
    close(m_listen);
  }
  RefusingProxy(const RefusingProxy&) = delete;
  RefusingProxy& operator=(const RefusingProxy&) = delete;

  int Port() const { return m_port; }
  int Connections() const { return m_connections; }

 private:
  void AcceptLoop() {
    while (!m_stop) {
      pollfd fd{m_listen, POLLIN, 0};
      if (poll(&fd, 1, 50) <= 0) continue;
      int client = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      int ordinal = ++m_connections;
      if (m_refused.count(ordinal)) {
        close(client);
        continue;
      }
      m_pumps.emplace_back([this, client] { Pump(client); });
    }
  }
  void Pump(int client) {
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(m_upstreamPort));
    if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      char buffer[4096];
      bool open = true;
      while (open && !m_stop) {
        if (poll(fds, 2, 50) <= 0) continue;
        for (int i = 0; i < 2 && open; ++i) {
          if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
          ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
          open = got > 0 && write(fds[1 - i].fd, buffer, static_cast<size_t>(got)) == got;
        }
      }
    }
    close(server);
    close(client);
  }

  int m_upstreamPort;
  std::set<int> m_refused;
  int m_listen = -1;
  int m_port = 0;
  std::atomic<int> m_connections{0};
  std::atomic<bool> m_stop{false};
  std::thread m_acceptThread;
  std::vector<std::thread> m_pumps;  // touched by the accept thread only, joined after it
};

}  // namespace e2e

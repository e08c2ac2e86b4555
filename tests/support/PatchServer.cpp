#include "support/PatchServer.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

PatchServer::PatchServer(const std::string& configJson) {
  const std::string config = m_dir / "server.json";
  std::string body = "{\"port_file\": \"" + (m_dir / "port") + "\", \"log\": \"" + (m_dir / "log") + "\"";
  if (!configJson.empty()) body += ", " + configJson;
  WriteTextFile(config, body + "}");
  m_process.Start({std::string(TARVO_SOURCE_DIR) + "/tools/patch_server.py", config}, {}, "/usr/bin/python3");
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (m_port == 0 && std::chrono::steady_clock::now() < until) {
    std::string text = ReadTextFile(m_dir / "port");
    if (!text.empty()) m_port = std::stoi(text);
    else std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

PatchServer::~PatchServer() = default;

std::string PatchServer::Log() const { return ReadTextFile(m_dir / "log"); }

std::string PatchServer::ReceivedTypes() const {
  std::istringstream in(Log());
  std::string line, types;
  while (std::getline(in, line)) {
    if (line.rfind("recv ", 0) != 0) continue;
    std::string type = line.substr(5, line.find(' ', 5) - 5);
    types += (types.empty() ? "" : " ") + type;
  }
  return types;
}

int PatchServer::Connections() const {
  std::istringstream in(Log());
  std::string line;
  int n = 0;
  while (std::getline(in, line)) n += line == "connect";
  return n;
}

bool PatchServer::WaitForLog(const std::string& text, int ms) const {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (Log().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

int UnusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  int port = ntohs(addr.sin_port);
  close(fd);  // nothing listens there now
  return port;
}

#include "app/CommandLine.h"

#include <cstdlib>

#include "app/PatchClientDlg.h"

namespace {

constexpr size_t kTokenLimit = 31;  // the launcher's tokens fit 32-byte buffers

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The next blank-separated token from `pos`, which moves past it. False at the end of the line.
bool NextToken(const std::string& line, size_t& pos, std::string& token) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos >= line.size()) return false;
  size_t start = pos;
  while (pos < line.size() && !IsBlank(line[pos])) ++pos;
  token = line.substr(start, std::min(pos - start, kTokenLimit));
  return true;
}

// atoi's value for any text, without its undefined behaviour on overflow.
int32_t ToInt(const std::string& text) { return static_cast<int32_t>(static_cast<uint32_t>(std::strtoll(text.c_str(), nullptr, 10))); }

}  // namespace

bool ParseServerList(const std::string& commandLine, std::vector<ServerEntry>& servers) {
  size_t pos = 0;
  std::string countText;
  if (!NextToken(commandLine, pos, countText)) return false;
  const int32_t count = ToInt(countText);
  if (count <= 0) return false;
  std::vector<ServerEntry> list;
  for (int32_t i = 0; i < count; ++i) {
    std::string host, port;
    if (!NextToken(commandLine, pos, host) || !NextToken(commandLine, pos, port)) return false;
    list.push_back(ServerEntry{host, ToInt(port)});
  }
  servers = std::move(list);
  return true;
}

bool CPatchClientDlg::ReadServerList() {
  if (ParseServerList(m_strCommandLine, m_servers)) return true;
  MessageBox("Cannot execute", MB_OK | MB_ICONINFORMATION);
  PostQuitMessage();
  return false;
}

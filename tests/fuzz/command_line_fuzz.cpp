// Arbitrary bytes as the launcher's command line, both as one text and as an argument vector cut at
// zero bytes: reading the server list must not crash, and a list it accepts holds only real tokens.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/PatchClientApp.h"
#include "app/PatchClientDlg.h"

namespace {

void Check(const std::string& line) {
  std::vector<ServerEntry> servers;
  if (!ParseServerList(line, servers)) {
    if (!servers.empty()) __builtin_trap();
    return;
  }
  // A count and a host and port per server, each at least one byte and a blank.
  if (servers.empty() || 4 * servers.size() > line.size() + 1) __builtin_trap();
  for (const ServerEntry& server : servers) {
    if (server.host.empty() || server.host.size() > 31) __builtin_trap();
    if (server.host.find_first_of(" \t\n\r\v\f") != std::string::npos) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  Check(raw);
  // The same bytes as the arguments a launcher would pass, joined as the client joins them.
  std::vector<std::string> store;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || raw[i] == '\0') {
      store.push_back(raw.substr(start, i - start));
      start = i + 1;
    }
  }
  std::vector<char*> argv{const_cast<char*>("TarvoPatchClient")};
  for (std::string& arg : store) argv.push_back(arg.data());
  argv.push_back(nullptr);
  Check(CommandLineFromArgs(static_cast<int>(argv.size() - 1), argv.data()));
  return 0;
}

// `tarvo-publish server-config`: the configuration of tools/patch_server.py for a published tree.
#pragma once
#include <array>
#include <string>
#include <vector>

namespace publish {

struct ServerConfigOptions {
  std::array<std::string, 4> versions;  // launcher, patch client, data, music
  std::string ftpRoot;                  // the root folder the client changes to on the FTP hosts
  std::vector<std::string> ftpHosts;
  std::vector<std::string> musicHosts;  // where music files are fetched; the FTP hosts when empty
  std::vector<std::pair<std::string, int>> gameServers;
  std::string gameArg;
  std::string host;  // where the patch server listens; its default when empty
  int port = -1;     // -1: a free port, which the server prints
};

// The JSON text (UTF-8) that patch_server.py reads.
std::string ServerConfigJson(const ServerConfigOptions& options);

}  // namespace publish

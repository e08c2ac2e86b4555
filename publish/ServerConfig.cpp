#include "publish/ServerConfig.h"

#include <cstdio>

namespace publish {
namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

std::string ServerConfigJson(const ServerConfigOptions& options) {
  std::string json = "{\n  \"versions\": [";
  for (size_t i = 0; i < options.versions.size(); ++i) json += (i ? ", " : "") + Quoted(options.versions[i]);
  json += "],\n  \"ftp_root\": " + Quoted(options.ftpRoot) + ",\n  \"game_arg\": " + Quoted(options.gameArg);
  // Host entries of the download places: kind 1 serves the patch files, kind 2 the music files.
  json += ",\n  \"entries\": [";
  bool first = true;
  const std::vector<std::string>& musicHosts = options.musicHosts.empty() ? options.ftpHosts : options.musicHosts;
  for (const auto* hosts : {&options.ftpHosts, &musicHosts}) {
    for (const std::string& host : *hosts) {
      json += (first ? "" : ", ") + Quoted((hosts == &options.ftpHosts ? "1:" : "2:") + host);
      first = false;
    }
  }
  json += "],\n  \"game_servers\": [";
  for (size_t i = 0; i < options.gameServers.size(); ++i) {
    json += (i ? ", [" : "[") + Quoted(options.gameServers[i].first) + ", " +
            std::to_string(options.gameServers[i].second) + "]";
  }
  json += "]";
  if (!options.host.empty()) json += ",\n  \"host\": " + Quoted(options.host);
  if (options.port >= 0) json += ",\n  \"port\": " + std::to_string(options.port);
  return json + "\n}\n";
}

}  // namespace publish

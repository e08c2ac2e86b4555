// tarvo-publish: puts game data, the fixed files and music on an FTP tree in the form the patch
// client reads, and checks a tree the way the client will read it.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "publish/DataPatch.h"
#include "publish/Placement.h"
#include "publish/ServerConfig.h"
#include "publish/TreeCheck.h"

#ifndef TARVO_VERSION
#define TARVO_VERSION "unknown"
#endif

namespace {

const char* const kUsage =
    "usage:\n"
    "  tarvo-publish data --root FTPROOT --from LEVEL --to VERSION --old OLD_TREE --new NEW_TREE\n"
    "                     [--max-archive MiB]\n"
    "  tarvo-publish launcher|agent-list|client FILE --root FTPROOT\n"
    "  tarvo-publish music --root FTPROOT [MUSIC_FILE.qkn ...]\n"
    "  tarvo-publish check --root FTPROOT [--versions V1,V2,V3,V4]\n"
    "  tarvo-publish server-config --versions V1,V2,V3,V4 --ftp-root FOLDER --ftp-hosts HOST[,HOST...]\n"
    "                     [--music-hosts HOST,...] [--game-servers HOST:PORT,...] [--game-arg TEXT]\n"
    "                     [--host ADDRESS] [--port PORT] [--out FILE]\n"
    "FTPROOT is the folder the patch server announces as the FTP root; the versions are the launcher's,\n"
    "the patch client's, the game data's and the music list's, as the patch server announces them.\n";

struct Arguments {
  std::map<std::string, std::string> options;
  std::vector<std::string> positional;
  std::string Get(const std::string& name) const {
    auto it = options.find(name);
    return it == options.end() ? std::string() : it->second;
  }
  bool Has(const std::string& name) const { return options.count(name) != 0; }
};

// "--name value" pairs among positional words; every option takes a value. `positional` is how
// many positional words the command takes at most.
bool ParseArguments(int argc, char** argv, const std::set<std::string>& known, const std::set<std::string>& required,
                    size_t positional, Arguments& args) {
  for (int i = 2; i < argc; ++i) {
    std::string word = argv[i];
    if (word.rfind("--", 0) != 0) {
      args.positional.push_back(word);
      continue;
    }
    const std::string name = word.substr(2);
    if (!known.count(name) || i + 1 >= argc) {
      std::cerr << "tarvo-publish: " << (known.count(name) ? "no value for " : "unknown option ") << word << "\n";
      return false;
    }
    args.options[name] = argv[++i];
  }
  if (args.positional.size() > positional) {
    std::cerr << "tarvo-publish: " << argv[1] << " does not take " << args.positional[positional] << "\n";
    return false;
  }
  for (const std::string& name : required) {
    if (!args.Has(name)) {
      std::cerr << "tarvo-publish: " << argv[1] << " needs --" << name << "\n";
      return false;
    }
  }
  return true;
}

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    parts.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return parts;
}

bool ParseVersions(const std::string& text, std::array<std::string, 4>& versions) {
  std::vector<std::string> parts = SplitCommas(text);
  if (parts.size() != 4) {
    std::cerr << "tarvo-publish: --versions takes four texts (launcher, client, data, music); empty ones are "
                 "not checked by the client\n";
    return false;
  }
  std::copy(parts.begin(), parts.end(), versions.begin());
  return true;
}

bool ParseNumber(const std::string& text, long low, long high, long& value) {
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && value >= low && value <= high;
}

int RunData(int argc, char** argv) {
  Arguments args;
  if (!ParseArguments(argc, argv, {"root", "from", "to", "old", "new", "max-archive"},
                      {"root", "from", "to", "old", "new"}, 0, args)) {
    return 2;
  }
  publish::DataOptions options{args.Get("root"), args.Get("from"), args.Get("to"), args.Get("old"), args.Get("new")};
  if (args.Has("max-archive")) {
    long mib = 0;
    if (!ParseNumber(args.Get("max-archive"), 1, 2047, mib)) {
      std::cerr << "tarvo-publish: --max-archive takes a size in MiB from 1 to 2047\n";
      return 2;
    }
    options.maxArchiveBytes = static_cast<uint64_t>(mib) << 20;
  }
  return publish::PublishData(options, std::cout, std::cerr);
}

int RunServerConfig(int argc, char** argv) {
  Arguments args;
  if (!ParseArguments(argc, argv,
                      {"versions", "ftp-root", "ftp-hosts", "music-hosts", "game-servers", "game-arg", "host", "port",
                       "out"},
                      {"versions", "ftp-root", "ftp-hosts"}, 0, args)) {
    return 2;
  }
  publish::ServerConfigOptions options;
  if (!ParseVersions(args.Get("versions"), options.versions)) return 2;
  options.ftpRoot = args.Get("ftp-root");
  options.ftpHosts = SplitCommas(args.Get("ftp-hosts"));
  if (args.Has("music-hosts")) options.musicHosts = SplitCommas(args.Get("music-hosts"));
  options.gameArg = args.Get("game-arg");
  options.host = args.Get("host");
  const std::string servers = args.Has("game-servers") ? args.Get("game-servers") : "127.0.0.1:9000";
  for (const std::string& server : SplitCommas(servers)) {
    size_t colon = server.rfind(':');
    long port = 0;
    if (colon == std::string::npos || colon == 0 || !ParseNumber(server.substr(colon + 1), 0, 65535, port)) {
      std::cerr << "tarvo-publish: --game-servers takes HOST:PORT,...\n";
      return 2;
    }
    options.gameServers.emplace_back(server.substr(0, colon), static_cast<int>(port));
  }
  if (args.Has("port")) {
    long port = 0;
    if (!ParseNumber(args.Get("port"), 0, 65535, port)) {
      std::cerr << "tarvo-publish: --port takes a port number\n";
      return 2;
    }
    options.port = static_cast<int>(port);
  }
  const std::string json = publish::ServerConfigJson(options);
  if (!args.Has("out")) {
    std::cout << json;
    return 0;
  }
  std::ofstream out(args.Get("out"), std::ios::binary | std::ios::trunc);
  if (!(out << json) || !out.flush()) {
    std::cerr << "tarvo-publish: cannot write " << args.Get("out") << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "--version") {
    std::cout << "tarvo-publish " << TARVO_VERSION << "\n";
    return 0;
  }
  if (command == "--help" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "data") return RunData(argc, argv);
  if (command == "server-config") return RunServerConfig(argc, argv);

  Arguments args;
  if (command == "check") {
    if (!ParseArguments(argc, argv, {"root", "versions"}, {"root"}, 0, args)) return 2;
    publish::CheckOptions options{args.Get("root"), std::nullopt};
    if (args.Has("versions")) {
      options.versions.emplace();
      if (!ParseVersions(args.Get("versions"), *options.versions)) return 2;
    }
    return publish::RunCheck(options, std::cout);
  }
  if (command == "music") {
    if (!ParseArguments(argc, argv, {"root"}, {"root"}, SIZE_MAX, args)) return 2;
    return publish::PublishMusic(args.positional, args.Get("root"), std::cout, std::cerr);
  }
  if (publish::IsFixedFileKind(command)) {
    if (!ParseArguments(argc, argv, {"root"}, {"root"}, 1, args)) return 2;
    if (args.positional.size() != 1) {
      std::cerr << "tarvo-publish: " << command << " takes one file\n";
      return 2;
    }
    return publish::PlaceFixedFile(command, args.positional[0], args.Get("root"), std::cout, std::cerr);
  }
  std::cerr << kUsage;
  return 2;
}

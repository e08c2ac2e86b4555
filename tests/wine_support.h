// Helpers of the tests that run the Windows client under Wine from the Linux side: the paths and
// environment of a Wine run, Wine's own programs (reg, wineserver), and a demo world whose
// installation key sits in the Wine registry. The prefix is WINEPREFIX's (scripts/test windows
// makes one in build-win/).
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "support/ClientProcess.h"

namespace wine {

constexpr int kWaitMs = 90000;  // Wine's first start in a prefix takes its time
inline const char* const kProductKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brix\\Tarvo";

inline std::string FromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The Windows client and the prefix to run it in; empty when the run does not name both.
inline std::string ClientExe() {
  return FromEnvironment("WINEPREFIX").empty() ? "" : FromEnvironment("TARVO_WINDOWS_CLIENT");
}
// The game's stand-in program, built beside the client's tests.
inline std::string StandInExe() {
  return (std::filesystem::path(ClientExe()).parent_path() / "tests" / "tarvo-stand-in.exe").string();
}

// A Linux path as a Windows program under Wine names it.
inline std::string WinePath(const std::string& path) {
  std::string windows = "Z:" + path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

// The environment of a Wine run: quiet, without the engines Wine would offer to download, and on
// this process's display when it has one. The prefix's desktop process takes the display of the
// program that starts the prefix's server, and every later program's windows go there; a helper
// such as reg run without one would leave the window of the next client on no display at all.
inline std::map<std::string, std::string> Environment(std::map<std::string, std::string> env = {}) {
  env.insert({{"WINEDEBUG", "-all"}, {"WINEDLLOVERRIDES", "mscoree,mshtml="}});
  if (const char* display = std::getenv("DISPLAY")) env.insert({"DISPLAY", display});
  return env;
}

// Runs one of Wine's programs (wine reg ..., wineserver -k) to its end; returns its exit code.
inline int Run(const std::string& program, const std::vector<std::string>& args, std::string* out = nullptr) {
  ClientProcess process;
  if (!process.Start(args, Environment(), program)) return -1;
  process.CloseStdin();
  int code = process.Wait(kWaitMs);
  if (out) *out = process.Stdout();
  return code;
}
// Wine's reg on the registry's 32-bit view: the game and its installer are 32-bit programs, and the
// client reads and writes their key there too.
inline int Reg(const std::vector<std::string>& args, std::string* out = nullptr) {
  std::vector<std::string> all{"reg"};
  all.insert(all.end(), args.begin(), args.end());
  all.push_back("/reg:32");
  return Run("/usr/bin/wine", all, out);
}

// A demo world whose programs are the stand-in and whose installation key is in the Wine registry.
inline bool MakeWorld(const std::string& folder, const std::string& serverVersions,
                      const std::string& registryVersions = "1.0,1.0,1.0,1.0") {
  if (!e2e::MakeWorld(folder, serverVersions, registryVersions, "--windows-stand-in '" + StandInExe() + "'"))
    return false;
  Reg({"delete", kProductKey, "/f"});
  return Reg({"import", WinePath(folder + "/registry.reg")}) == 0;
}

// "VersionN" of the product key in the Wine registry, as a float; NaN when it is missing.
inline float Version(int n) {
  std::string out;
  const std::string name = "Version" + std::to_string(n);
  if (Reg({"query", kProductKey, "/v", name}, &out) != 0) return NAN;
  size_t at = out.find("0x", out.find(name));
  if (at == std::string::npos) return NAN;
  uint32_t bits = static_cast<uint32_t>(std::stoul(out.substr(at + 2), nullptr, 16));
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace wine

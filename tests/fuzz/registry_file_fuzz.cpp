// Arbitrary bytes as the registry file: reading must not crash and reads a damaged file as missing
// keys or values; a value line that reads prints back to the same value; and a value written into
// any file reads back as written.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/PatchClientDlg.h"
#include "platform/registry.h"
#include "platform/registry_file_store.h"

namespace fs = std::filesystem;

namespace {

fs::path g_scratch;
std::string g_registry;
const char* const kProductKey = "SOFTWARE\\Brix\\Tarvo";

void RoundTripLine(std::string_view line) {
  std::string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (!platform::regfile::ParseValueLine(line, name, type, data)) return;
  const std::string printed = platform::regfile::FormatValueLine(name, type, data);
  std::string name2;
  uint32_t type2 = 0;
  std::vector<uint8_t> data2;
  if (!platform::regfile::ParseValueLine(printed, name2, type2, data2)) __builtin_trap();
  if (name2 != name || type2 != type || data2 != data) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every write syncs the file: a folder in memory keeps that cheap where there is one.
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "tarvo-registry-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) __builtin_trap();
  g_scratch = pattern;
  g_registry = (g_scratch / "registry.reg").string();
  setenv("TARVO_REGISTRY", g_registry.c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(g_scratch, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    RoundTripLine(text.substr(start, end - start));
    start = end + 1;
  }

  std::error_code ignored;
  fs::remove_all(g_scratch, ignored);
  fs::create_directory(g_scratch);
  if (FILE* file = std::fopen(g_registry.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);
  }

  // The reads the client makes, without a dialog to report to.
  std::string gameFolder;
  if (ReadDefaultDir(kProductKey, gameFolder, nullptr) && gameFolder.size() > 259) __builtin_trap();

  // A version written into whatever the file holds reads back as written.
  const uint8_t written[4] = {0x00, 0x00, 0xC0, 0x3F};
  platform::RegistryKey key;
  if (!key.Open(kProductKey, true) || !key.SetValue("Version1", platform::kRegDword, written, 4)) return 0;
  platform::RegistryKey again;
  std::vector<uint8_t> read;
  uint32_t type = 0;
  if (!again.Open(kProductKey, false) || !again.QueryValue("version1", read, &type)) __builtin_trap();
  if (type != platform::kRegDword || read != std::vector<uint8_t>(written, written + 4)) __builtin_trap();
  return 0;
}

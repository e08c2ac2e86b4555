// The machine's registry (HKEY_LOCAL_MACHINE) kept as one REGEDIT4 text file.
//
// The file is $TARVO_REGISTRY, else $XDG_CONFIG_HOME/tarvo/registry.reg, else ~/.config/tarvo/registry.reg.
// Every write is atomic (temporary file, fsync, rename) under a file lock, so two processes never
// lose or corrupt each other's values. A damaged file or line reads as missing keys or values.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

std::string RegistryFilePath();

class RegistryKey {
 public:
  // Opens HKEY_LOCAL_MACHINE\subKey. Without `create`, a missing key fails; with it, the key is made.
  bool Open(std::string_view subKey, bool create);
  // Copies a value. For a string the data holds its bytes and a terminating zero, as Windows returns it.
  bool QueryValue(std::string_view name, std::vector<uint8_t>& data, uint32_t* type) const;
  bool SetValue(std::string_view name, uint32_t type, const void* data, uint32_t size);
  void Close();
  bool IsOpen() const { return m_open; }

 private:
  struct Value {
    uint32_t type = 0;
    std::vector<uint8_t> data;
  };
  bool m_open = false;
  std::string m_subKey;
  std::map<std::string, Value> m_values;  // by lower-case name: names are not case-sensitive
};

// Parsing and printing of the file, exposed for tests.
namespace regfile {
std::string KeyHeader(std::string_view subKey);  // "HKEY_LOCAL_MACHINE\\..." as in [..]
bool ParseValueLine(std::string_view line, std::string& name, uint32_t& type, std::vector<uint8_t>& data);
std::string FormatValueLine(std::string_view name, uint32_t type, const std::vector<uint8_t>& data);
}  // namespace regfile

}  // namespace platform

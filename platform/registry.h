// The machine's registry (HKEY_LOCAL_MACHINE): the system's own on Windows, a REGEDIT4 text file
// elsewhere, and that file on Windows too when $TARVO_REGISTRY names one.
#pragma once
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace platform {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

class RegistryKey {
 public:
  RegistryKey();
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens HKEY_LOCAL_MACHINE\subKey. Without `create`, a missing key fails; with it, the key is made.
  bool Open(std::string_view subKey, bool create);
  // Copies a value. For a string the data holds its bytes and a terminating zero, as Windows returns it.
  bool QueryValue(std::string_view name, std::vector<uint8_t>& data, uint32_t* type) const;
  bool SetValue(std::string_view name, uint32_t type, const void* data, uint32_t size);
  void Close();
  bool IsOpen() const;

 private:
  struct State;  // the open key, as the variant keeps it
  std::unique_ptr<State> m_state;
};

}  // namespace platform

// The installation's settings in the registry: the game folder and the four version numbers.
// Version numbers are floats kept as the 4 bytes of a REG_DWORD value.
#include <cstring>

#include "app/PatchClientDlg.h"
#include "platform/registry.h"
#include "session/StopCodes.h"

float CPatchClientDlg::ReadRegFloat(const char* valueName) {
  platform::RegistryKey key;
  if (!key.Open(m_strRegKey, false)) {
    ReportStop(STOP_NO_INSTALL_INFO);
    return 0.0f;
  }
  std::vector<uint8_t> data;
  // The value is read into a 4-byte buffer: a missing or larger value reads as 0.0, silently.
  if (!key.QueryValue(valueName, data, nullptr) || data.size() > 4) return 0.0f;
  uint8_t bytes[4] = {0, 0, 0, 0};
  std::memcpy(bytes, data.data(), data.size());
  float value;
  std::memcpy(&value, bytes, 4);
  return value;
}

bool CPatchClientDlg::WriteRegFloat(const char* valueName, float value, const char* subKey) {
  platform::RegistryKey key;
  if (!key.Open(subKey ? std::string(subKey) : m_strRegKey, true)) {
    ReportStop(STOP_NO_INSTALL_INFO);
    return false;
  }
  uint8_t bytes[4];
  std::memcpy(bytes, &value, 4);
  if (!key.SetValue(valueName, platform::kRegDword, bytes, 4)) {
    ReportStop(STOP_BAD_INSTALL_INFO);
    return false;
  }
  return true;
}

bool ReadDefaultDir(const std::string& subKey, std::string& gameFolder, CPatchClientDlg* pDlg) {
  constexpr size_t kBufferSize = 260;
  platform::RegistryKey key;
  if (!key.Open(subKey, false)) {
    if (pDlg) pDlg->ReportStop(STOP_NO_INSTALL_INFO);
    return false;
  }
  std::vector<uint8_t> data;
  if (!key.QueryValue("defaultdir", data, nullptr) || data.size() > kBufferSize) {
    if (pDlg) pDlg->ReportStop(STOP_BAD_INSTALL_INFO);
    return false;
  }
  // The value is taken up to its first zero, as a C string in a 260-byte buffer.
  size_t length = 0;
  while (length < data.size() && data[length] != 0) ++length;
  if (length >= kBufferSize) {
    if (pDlg) pDlg->ReportStop(STOP_BAD_INSTALL_INFO);
    return false;
  }
  gameFolder.assign(reinterpret_cast<const char*>(data.data()), length);
  return true;
}

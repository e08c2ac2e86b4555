#include <windows.h>

#include <cstring>

#include "platform/registry.h"
#include "platform/registry_file_store.h"
#include "platform/wide_win32.h"

namespace platform {
namespace {

// The game and its installer are 32-bit programs, whose HKEY_LOCAL_MACHINE\SOFTWARE is the 32-bit
// view; this client sees the same keys whatever it is built as.
constexpr REGSAM kView = KEY_WOW64_32KEY;

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

}  // namespace

// Either the real registry or, when $TARVO_REGISTRY names one, the .reg file.
struct RegistryKey::State {
  HKEY key = nullptr;
  regfile::FileKey file;
  ~State() {
    if (key) RegCloseKey(key);
  }
};

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;

bool RegistryKey::Open(std::string_view subKey, bool create) {
  Close();
  auto state = std::make_unique<State>();
  if (!RegistryFilePath().empty()) {
    if (!state->file.Open(subKey, create)) return false;
  } else {
    std::string path(subKey);
    for (char& c : path)
      if (c == '/') c = '\\';
    std::wstring wide = WideFromUtf8(path);
    LSTATUS status = create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                              KEY_QUERY_VALUE | KEY_SET_VALUE | kView, nullptr, &state->key, nullptr)
                            : RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide.c_str(), 0,
                                            KEY_QUERY_VALUE | KEY_SET_VALUE | kView, &state->key);
    // A key that may be read but not written (no administrator rights) still reads.
    if (status == ERROR_ACCESS_DENIED && !create)
      status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide.c_str(), 0, KEY_QUERY_VALUE | kView, &state->key);
    if (status != ERROR_SUCCESS) {
      state->key = nullptr;
      return false;
    }
  }
  m_state = std::move(state);
  return true;
}

// Text comes back as the core's UTF-8 with its terminating zero; other types byte for byte.
bool RegistryKey::QueryValue(std::string_view name, std::vector<uint8_t>& data, uint32_t* type) const {
  if (!m_state) return false;
  if (!m_state->key) return m_state->file.QueryValue(name, data, type);
  std::wstring wideName = WideFromUtf8(name);
  DWORD valueType = 0;
  DWORD size = 0;
  LSTATUS status;
  std::vector<uint8_t> raw;
  do {  // the value may grow between asking its size and reading it
    status = RegQueryValueExW(m_state->key, wideName.c_str(), nullptr, &valueType, nullptr, &size);
    if (status != ERROR_SUCCESS) return false;
    raw.assign(size + sizeof(wchar_t), 0);
    status = RegQueryValueExW(m_state->key, wideName.c_str(), nullptr, &valueType, raw.data(), &size);
  } while (status == ERROR_MORE_DATA);
  if (status != ERROR_SUCCESS) return false;
  raw.resize(size);
  if (IsText(valueType)) {
    std::wstring text(size / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), raw.data(), text.size() * sizeof(wchar_t));
    text.resize(text.find(L'\0') == std::wstring::npos ? text.size() : text.find(L'\0'));
    std::string utf8 = Utf8FromWide(text);
    data.assign(utf8.begin(), utf8.end());
    data.push_back(0);
    valueType = REG_SZ;
  } else {
    data = std::move(raw);
  }
  if (type) *type = valueType;
  return true;
}

bool RegistryKey::SetValue(std::string_view name, uint32_t type, const void* data, uint32_t size) {
  if (!m_state) return false;
  if (!m_state->key) return m_state->file.SetValue(name, type, data, size);
  std::wstring wideName = WideFromUtf8(name);
  if (IsText(type)) {
    const char* text = static_cast<const char*>(data);
    std::string_view utf8(text, size);
    utf8 = utf8.substr(0, utf8.find('\0'));
    std::wstring wide = WideFromUtf8(utf8);
    return RegSetValueExW(m_state->key, wideName.c_str(), 0, type, reinterpret_cast<const BYTE*>(wide.c_str()),
                          static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  return RegSetValueExW(m_state->key, wideName.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

void RegistryKey::Close() { m_state.reset(); }

bool RegistryKey::IsOpen() const { return m_state != nullptr; }

}  // namespace platform

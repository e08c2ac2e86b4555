#include "platform/registry.h"
#include "platform/registry_file_store.h"

namespace platform {

struct RegistryKey::State {
  regfile::FileKey file;
};

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;

bool RegistryKey::Open(std::string_view subKey, bool create) {
  Close();
  auto state = std::make_unique<State>();
  if (!state->file.Open(subKey, create)) return false;
  m_state = std::move(state);
  return true;
}

bool RegistryKey::QueryValue(std::string_view name, std::vector<uint8_t>& data, uint32_t* type) const {
  return m_state && m_state->file.QueryValue(name, data, type);
}

bool RegistryKey::SetValue(std::string_view name, uint32_t type, const void* data, uint32_t size) {
  return m_state && m_state->file.SetValue(name, type, data, size);
}

void RegistryKey::Close() { m_state.reset(); }

bool RegistryKey::IsOpen() const { return m_state != nullptr; }

}  // namespace platform

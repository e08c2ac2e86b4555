// The registry kept as one REGEDIT4 text file: the store behind RegistryKey on systems without a
// registry, and on Windows when $TARVO_REGISTRY names a file.
//
// The file is $TARVO_REGISTRY, else (Linux) $XDG_CONFIG_HOME/tarvo/registry.reg, else
// ~/.config/tarvo/registry.reg. Every write is atomic (temporary file, flush to disk, rename) under a
// file lock, so two processes never lose or corrupt each other's values. A damaged file or line
// reads as missing keys or values.
#pragma once
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The file's path, relative names taken against the folder the client started in. "" when this
// system keeps no registry file (Windows without $TARVO_REGISTRY).
std::string RegistryFilePath();

namespace regfile {

// One key of the file, as RegistryKey opens it: its values are read at Open, and every SetValue
// writes the file at once.
class FileKey {
 public:
  bool Open(std::string_view subKey, bool create);
  bool QueryValue(std::string_view name, std::vector<uint8_t>& data, uint32_t* type) const;
  bool SetValue(std::string_view name, uint32_t type, const void* data, uint32_t size);

  struct Value {
    uint32_t type = 0;
    std::vector<uint8_t> data;
  };

 private:
  std::string m_subKey;
  std::map<std::string, Value> m_values;  // by lower-case name: names are not case-sensitive
};

// Parsing and printing of the file, exposed for tests.
std::string KeyHeader(std::string_view subKey);  // "HKEY_LOCAL_MACHINE\\..." as in [..]
bool ParseValueLine(std::string_view line, std::string& name, uint32_t& type, std::vector<uint8_t>& data);
std::string FormatValueLine(std::string_view name, uint32_t type, const std::vector<uint8_t>& data);

// What the store needs from the system (registry_file_<system>.cpp).

// Serialises writers (and lets readers see whole files) across threads and processes.
class FileLock {
 public:
  FileLock(const std::string& registryPath, bool exclusive);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return m_handle != -1; }

 private:
  intptr_t m_handle = -1;
};
// The final file a path names, following symbolic links as opening it would: a registry file that
// is a link is updated where it points, and the link stays.
std::string FollowLinks(std::string path);
FILE* OpenForReading(const std::string& path);
// Replaces the file's contents whole, or leaves it as it was.
bool WriteFileAtomically(const std::string& path, const std::string& text);
// Moves a file not ours to parse out of the way, beside where it was.
void SetAside(const std::string& path, const std::string& newPath);

}  // namespace regfile
}  // namespace platform

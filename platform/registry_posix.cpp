#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace platform {
namespace {

const char kHeader[] = "REGEDIT4";

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && Lower(a) == Lower(b); }

void MakeParentFolders(const std::string& path) {
  for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1))
    mkdir(path.substr(0, pos).c_str(), 0755);
}

// Serialises writers (and lets readers see whole files) across threads and processes.
class FileLock {
 public:
  FileLock(const std::string& registryPath, bool exclusive) {
    std::string lockPath = registryPath + ".lock";
    if (exclusive) MakeParentFolders(lockPath);
    m_fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd >= 0) {
      while (flock(m_fd, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
      }
    }
  }
  ~FileLock() {
    if (m_fd >= 0) close(m_fd);
  }
  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

bool ReadWholeFile(const std::string& path, std::string& text) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  text.clear();
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    text.append(buf, n);
    if (text.size() > (64u << 20)) break;  // a registry is small; a huge file is not ours
  }
  std::fclose(f);
  return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool HasHeader(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    std::string_view l = line;
    if (l.size() >= 3 && static_cast<unsigned char>(l[0]) == 0xEF) l.remove_prefix(3);  // UTF-8 mark
    return l == kHeader;
  }
  return false;
}

bool IsSectionLine(const std::string& line, std::string& name) {
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  name = line.substr(1, line.size() - 2);
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text at `pos` (which points at the opening quote); returns false when unterminated.
bool ReadQuoted(std::string_view line, size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  out.clear();
  for (++pos; pos < line.size(); ++pos) {
    char c = line[pos];
    if (c == '\\') {
      if (++pos >= line.size()) return false;
      out.push_back(line[pos]);
    } else if (c == '"') {
      ++pos;
      return true;
    } else {
      out.push_back(c);
    }
  }
  return false;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

}  // namespace

std::string RegistryFilePath() {
  if (const char* p = std::getenv("TARVO_REGISTRY"); p && *p) return p;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/tarvo/registry.reg";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/tarvo/registry.reg";
}

namespace regfile {

std::string KeyHeader(std::string_view subKey) {
  std::string key = "HKEY_LOCAL_MACHINE\\";
  for (char c : subKey) key.push_back(c == '/' ? '\\' : c);
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

bool ParseValueLine(std::string_view line, std::string& name, uint32_t& type, std::vector<uint8_t>& data) {
  size_t pos = 0;
  if (line.empty()) return false;
  if (line[0] == '@') {
    name.clear();
    pos = 1;
  } else if (!ReadQuoted(line, pos, name)) {
    return false;
  }
  if (pos >= line.size() || line[pos] != '=') return false;
  std::string_view rest = line.substr(pos + 1);
  data.clear();
  if (!rest.empty() && rest[0] == '"') {
    size_t p = 0;
    std::string text;
    if (!ReadQuoted(rest, p, text) || p != rest.size()) return false;
    type = kRegSz;
    data.assign(text.begin(), text.end());
    data.push_back(0);
    return true;
  }
  if (rest.substr(0, 6) == "dword:") {
    std::string_view hex = rest.substr(6);
    if (hex.size() != 8) return false;
    uint32_t v = 0;
    for (char c : hex) {
      int d = HexDigit(c);
      if (d < 0) return false;
      v = v << 4 | static_cast<uint32_t>(d);
    }
    type = kRegDword;
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return true;
  }
  std::string_view bytes;
  if (rest.substr(0, 4) == "hex:") {
    type = kRegBinary;
    bytes = rest.substr(4);
  } else if (rest.substr(0, 4) == "hex(") {
    size_t close = rest.find("):");
    if (close == std::string_view::npos || close == 4) return false;
    uint32_t t = 0;
    for (char c : rest.substr(4, close - 4)) {
      int d = HexDigit(c);
      if (d < 0 || t > 0xFFFFFFF) return false;
      t = t << 4 | static_cast<uint32_t>(d);
    }
    type = t;
    bytes = rest.substr(close + 2);
  } else {
    return false;
  }
  while (!bytes.empty()) {
    if (bytes.size() < 2) return false;
    int hi = HexDigit(bytes[0]), lo = HexDigit(bytes[1]);
    if (hi < 0 || lo < 0) return false;
    data.push_back(static_cast<uint8_t>(hi << 4 | lo));
    bytes.remove_prefix(2);
    if (!bytes.empty()) {
      if (bytes[0] != ',') return false;
      bytes.remove_prefix(1);
    }
  }
  return true;
}

std::string FormatValueLine(std::string_view name, uint32_t type, const std::vector<uint8_t>& data) {
  std::string line = name.empty() ? std::string("@") : Quote(name);
  line.push_back('=');
  char buf[16];
  bool textual = type == kRegSz && !data.empty() && data.back() == 0 &&
                 std::memchr(data.data(), 0, data.size() - 1) == nullptr &&
                 std::memchr(data.data(), '\n', data.size()) == nullptr &&
                 std::memchr(data.data(), '\r', data.size()) == nullptr;
  if (textual) {
    line += Quote(std::string_view(reinterpret_cast<const char*>(data.data()), data.size() - 1));
  } else if (type == kRegDword && data.size() == 4) {
    uint32_t v = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
    std::snprintf(buf, sizeof buf, "dword:%08x", v);
    line += buf;
  } else {
    if (type == kRegBinary) {
      line += "hex:";
    } else {
      std::snprintf(buf, sizeof buf, "hex(%x):", type);
      line += buf;
    }
    for (size_t i = 0; i < data.size(); ++i) {
      std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", data[i]);
      line += buf;
    }
  }
  return line;
}

}  // namespace regfile

bool RegistryKey::Open(std::string_view subKey, bool create) {
  Close();
  const std::string path = RegistryFilePath();
  const std::string header = regfile::KeyHeader(subKey);
  bool found = false;
  {
    FileLock lock(path, false);
    std::string text;
    if (ReadWholeFile(path, text)) {
      std::vector<std::string> lines = SplitLines(text);
      if (HasHeader(lines)) {
        bool inKey = false;
        for (const std::string& line : lines) {
          std::string section;
          if (IsSectionLine(line, section)) {
            inKey = EqualsNoCase(section, header);
            found = found || inKey;
            continue;
          }
          if (!inKey) continue;
          std::string name;
          Value value;
          if (regfile::ParseValueLine(line, name, value.type, value.data)) m_values[Lower(name)] = std::move(value);
        }
      }
    }
  }
  if (!found) {
    m_values.clear();
    if (!create) return false;
    // Create the key now, as RegCreateKeyEx does, so that it exists even if no value is ever set.
    m_subKey = std::string(subKey);
    m_open = true;
    if (!SetValue({}, 0, nullptr, 0)) {
      Close();
      return false;
    }
    return true;
  }
  m_subKey = std::string(subKey);
  m_open = true;
  return true;
}

bool RegistryKey::QueryValue(std::string_view name, std::vector<uint8_t>& data, uint32_t* type) const {
  if (!m_open) return false;
  auto it = m_values.find(Lower(name));
  if (it == m_values.end()) return false;
  data = it->second.data;
  if (type) *type = it->second.type;
  return true;
}

// With a null `data` and type 0 only the key itself is made (used by Open with create).
bool RegistryKey::SetValue(std::string_view name, uint32_t type, const void* data, uint32_t size) {
  if (!m_open) return false;
  const bool keyOnly = data == nullptr && type == 0;
  const std::string path = RegistryFilePath();
  const std::string header = regfile::KeyHeader(m_subKey);
  FileLock lock(path, true);
  if (!lock.Held()) return false;

  std::string text;
  std::vector<std::string> lines;
  if (ReadWholeFile(path, text)) {
    lines = SplitLines(text);
    if (!HasHeader(lines)) {
      // Not ours to parse: keep it beside the new file rather than lose it.
      if (!text.empty()) std::rename(path.c_str(), (path + ".damaged").c_str());
      lines.clear();
    }
  }
  if (lines.empty()) {
    lines.push_back(kHeader);
    lines.push_back("");
  }

  std::vector<uint8_t> bytes;
  if (!keyOnly) bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  const std::string newLine = keyOnly ? std::string() : regfile::FormatValueLine(name, type, bytes);

  // Find the key's section, and the value's line inside it.
  size_t sectionAt = lines.size(), insertAt = lines.size(), valueAt = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string section;
    if (IsSectionLine(lines[i], section)) {
      if (sectionAt != lines.size()) break;
      if (EqualsNoCase(section, header)) sectionAt = insertAt = i + 1;
      continue;
    }
    if (sectionAt == lines.size()) continue;
    std::string lineName;
    uint32_t lineType;
    std::vector<uint8_t> lineData;
    if (!lines[i].empty()) insertAt = i + 1;
    if (!keyOnly && regfile::ParseValueLine(lines[i], lineName, lineType, lineData) && EqualsNoCase(lineName, name))
      valueAt = i;
  }
  if (sectionAt == lines.size()) {
    if (!lines.back().empty()) lines.push_back("");
    lines.push_back("[" + header + "]");
    if (!keyOnly) lines.push_back(newLine);
  } else if (keyOnly) {
    return true;  // the key exists already
  } else if (valueAt != lines.size()) {
    lines[valueAt] = newLine;
  } else {
    lines.insert(lines.begin() + static_cast<long>(insertAt), newLine);
  }

  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  const std::string tmp = path + ".tmp";
  MakeParentFolders(path);
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; done < out.size();) {
    ssize_t n = write(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  if (!keyOnly) m_values[Lower(name)] = Value{type, bytes};
  return true;
}

void RegistryKey::Close() {
  m_open = false;
  m_values.clear();
  m_subKey.clear();
}

}  // namespace platform

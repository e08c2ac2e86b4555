#include <cstdio>
#include <cstring>

#include "common/Ascii.h"
#include "platform/registry.h"
#include "platform/registry_file_store.h"

namespace platform::regfile {
namespace {

const char kHeader[] = "REGEDIT4";

// A registry is a few kilobytes; a file beyond this is not one that can be rewritten whole.
constexpr size_t kMaxFileBytes = 64u << 20;

enum class ReadResult { kMissing, kWhole, kTooBig };

// Reads the file, or its first kMaxFileBytes when it is larger (kTooBig).
ReadResult ReadWholeFile(const std::string& path, std::string& text) {
  text.clear();
  FILE* f = OpenForReading(path);
  if (!f) return ReadResult::kMissing;
  char buf[65536];
  size_t n;
  bool tooBig = false;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (text.size() + n > kMaxFileBytes) {
      text.append(buf, kMaxFileBytes - text.size());
      tooBig = true;
      break;
    }
    text.append(buf, n);
  }
  std::fclose(f);
  return tooBig ? ReadResult::kTooBig : ReadResult::kWhole;
}

// A line without the carriage returns before its "\n". All of them go: the file is written back
// with "\n" alone, so a line kept with a stray "\r" would turn into another line (a section header,
// say) when read again.
std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Calls `fn` with each line of `text` (without its "\r\n" or "\n"), in place: a file of millions of
// short lines costs no more memory than its own text.
template <typename Fn>
void ForEachLine(std::string_view text, Fn&& fn) {
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    fn(WithoutLineEnd(line));
  }
}

bool HasHeader(std::string_view text) {
  size_t start = text.find_first_not_of("\r\n");  // blank lines before the header do not count
  if (start == std::string_view::npos) return false;
  std::string_view line = WithoutLineEnd(text.substr(start, text.find('\n', start) - start));
  if (line.size() >= 3 && static_cast<unsigned char>(line[0]) == 0xEF) line.remove_prefix(3);  // UTF-8 mark
  return line == kHeader;
}

bool IsSectionLine(std::string_view line, std::string_view& name) {
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

namespace {

// One value of a key as the file leaves it: the line that gives it, and what it holds.
struct KeyValue {
  std::string line;
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// A key's values as an import of the file would leave them: every section of the key counts, and a
// later line for a name wins over an earlier one. `order` lists the names (lower case) as first met.
struct KeyContents {
  bool found = false;
  std::map<std::string, KeyValue> values;
  std::vector<std::string> order;
};

KeyContents CollectKey(std::string_view text, std::string_view header) {
  KeyContents key;
  bool inKey = false;
  ForEachLine(text, [&](std::string_view line) {
    std::string_view section;
    if (IsSectionLine(line, section)) {
      inKey = AsciiEqualNoCase(section, header);
      key.found = key.found || inKey;
      return;
    }
    if (!inKey || line.empty()) return;
    std::string name;
    KeyValue value;
    if (!ParseValueLine(line, name, value.type, value.data)) return;
    value.line = std::string(line);
    auto [it, isNew] = key.values.insert_or_assign(AsciiLower(name), std::move(value));
    if (isNew) key.order.push_back(it->first);
  });
  return key;
}

// The file with the key's values written into its first section: later sections of the same key
// are merged into it and dropped, each name keeps one line, and everything else stays as it was.
std::string RewriteWithKey(std::string_view text, std::string_view header, const KeyContents& key) {
  std::string out;
  out.reserve(text.size() + 256);
  bool lastEmpty = false;
  auto emit = [&](std::string_view line) {
    out.append(line);
    out.push_back('\n');
    lastEmpty = line.empty();
  };
  enum class Where { kOther, kFirst, kLater } where = Where::kOther;
  bool firstSeen = false;
  size_t heldBlanks = 0;  // blank lines of the first section, kept after any value added to it
  std::map<std::string, bool> written;
  auto releaseBlanks = [&] {
    for (; heldBlanks > 0; --heldBlanks) emit("");
  };
  auto writeRest = [&] {
    for (const std::string& name : key.order)
      if (!written[name]) emit(key.values.at(name).line);
  };
  ForEachLine(text, [&](std::string_view line) {
    std::string_view section;
    if (IsSectionLine(line, section)) {
      if (where == Where::kFirst) writeRest();
      releaseBlanks();
      if (!AsciiEqualNoCase(section, header)) {
        where = Where::kOther;
      } else {
        where = firstSeen ? Where::kLater : Where::kFirst;
        firstSeen = true;
        if (where == Where::kLater) return;
      }
      emit(line);
      return;
    }
    if (where == Where::kLater) return;
    if (where == Where::kFirst && line.empty()) {
      ++heldBlanks;
      return;
    }
    std::string name;
    uint32_t type;
    std::vector<uint8_t> data;
    if (where == Where::kFirst && ParseValueLine(line, name, type, data)) {
      std::string lower = AsciiLower(name);
      if (written[lower]) return;
      written[lower] = true;
      releaseBlanks();
      emit(key.values.at(lower).line);
      return;
    }
    releaseBlanks();
    emit(line);
  });
  if (where == Where::kFirst) writeRest();
  releaseBlanks();
  if (!firstSeen) {
    if (!lastEmpty) emit("");
    emit("[" + std::string(header) + "]");
    writeRest();
  }
  return out;
}

// Writes one value into the key; with a null `data` and type 0 only the key itself is made.
bool WriteValue(std::string_view subKey, std::string_view name, uint32_t type, const void* data, uint32_t size) {
  const bool keyOnly = data == nullptr && type == 0;
  const std::string path = FollowLinks(RegistryFilePath());
  if (path.empty()) return false;
  const std::string header = KeyHeader(subKey);
  FileLock lock(path, true);
  if (!lock.Held()) return false;

  std::string text;
  switch (ReadWholeFile(path, text)) {
    case ReadResult::kTooBig:
      return false;  // what lies beyond the part read would be lost
    case ReadResult::kWhole:
      if (HasHeader(text)) break;
      // Not ours to parse: keep it beside the new file rather than lose it.
      if (!text.empty()) SetAside(path, path + ".damaged");
      [[fallthrough]];
    case ReadResult::kMissing:
      text = std::string(kHeader) + "\n\n";
      break;
  }

  KeyContents key = CollectKey(text, header);
  if (keyOnly && key.found) return true;  // the key exists already
  if (!keyOnly) {
    std::vector<uint8_t> bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    std::string lower = AsciiLower(name);
    if (!key.values.count(lower)) key.order.push_back(lower);
    key.values[lower] = KeyValue{FormatValueLine(name, type, bytes), type, bytes};
  }
  return WriteFileAtomically(path, RewriteWithKey(text, header, key));
}

}  // namespace

bool FileKey::Open(std::string_view subKey, bool create) {
  m_values.clear();
  m_subKey = std::string(subKey);
  const std::string path = FollowLinks(RegistryFilePath());
  if (path.empty()) return false;
  KeyContents key;
  ReadResult read;
  {
    FileLock lock(path, false);
    std::string text;
    read = ReadWholeFile(path, text);
    if (read != ReadResult::kMissing && HasHeader(text)) key = CollectKey(text, KeyHeader(subKey));
  }
  for (auto& [name, value] : key.values) m_values[name] = Value{value.type, std::move(value.data)};
  // Create the key now, as RegCreateKeyEx does, so that it exists even if no value is ever set. In a
  // file too big to rewrite that is left to the value's write, which is refused.
  if (key.found || (create && (read == ReadResult::kTooBig || WriteValue(subKey, {}, 0, nullptr, 0)))) return true;
  m_values.clear();
  return false;
}

bool FileKey::QueryValue(std::string_view name, std::vector<uint8_t>& data, uint32_t* type) const {
  auto it = m_values.find(AsciiLower(name));
  if (it == m_values.end()) return false;
  data = it->second.data;
  if (type) *type = it->second.type;
  return true;
}

bool FileKey::SetValue(std::string_view name, uint32_t type, const void* data, uint32_t size) {
  if (!WriteValue(m_subKey, name, type, data, size)) return false;
  if (!data && type == 0) return true;  // only the key was made
  const auto* bytes = static_cast<const uint8_t*>(data);
  m_values[AsciiLower(name)] = Value{type, std::vector<uint8_t>(bytes, bytes + size)};
  return true;
}

}  // namespace platform::regfile

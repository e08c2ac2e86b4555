#include "pipeline/PatchListFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "common/RelativePath.h"

namespace pipeline {
namespace {

constexpr size_t kMaxHeaderWord = 31;
constexpr size_t kMaxPath = 259;

// Whitespace-separated words, as the C library's "%s" conversions see them.
class WordReader {
 public:
  explicit WordReader(std::string_view text) : m_text(text) {}
  bool AtEnd() const { return m_pos >= m_text.size(); }
  // Empty when the text is used up.
  std::string_view Next() {
    while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) ++m_pos;
    size_t start = m_pos;
    while (m_pos < m_text.size() && !IsSpace(m_text[m_pos])) ++m_pos;
    return m_text.substr(start, m_pos - start);
  }

 private:
  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
  std::string_view m_text;
  size_t m_pos = 0;
};

// "%d": the leading decimal number of the word, 0 when it has none; bounded to 32 bits.
int32_t DecimalOf(std::string_view word) {
  std::string text(word);
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str()) return 0;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace

std::string PatchListName(unsigned level) {
  char name[32];
  std::snprintf(name, sizeof name, "FileList_%03u.dat", level);
  return name;
}

PatchListResult ParsePatchList(std::string_view text, PatchList& list) {
  list = PatchList{};
  WordReader reader(text);
  reader.Next();
  std::string_view version = reader.Next();
  reader.Next();
  if (version.empty() || version.size() > kMaxHeaderWord || version[0] < '0' || version[0] > '9') {
    return PatchListResult::kBadHeader;
  }
  list.targetVersion = std::string(version);

  std::vector<PatchFileEntry> taken;
  std::string_view lastTaken;
  bool anyTaken = false;
  while (!reader.AtEnd()) {
    std::string_view path = reader.Next();
    int32_t size = DecimalOf(reader.Next());
    reader.Next();
    int32_t extra = DecimalOf(reader.Next());
    if (path.empty() || size == 0) {
      list.endedAt = std::string(path);
      break;
    }
    if (path.size() > kMaxPath || !IsContainedRelativePath(path)) {
      list.refusedPath = std::string(path);
      return PatchListResult::kBadRecord;
    }
    if (anyTaken && path == lastTaken) continue;
    size_t separator = path.find_first_of("\\/");
    if (separator == std::string_view::npos || separator + 1 == path.size()) {  // names no file
      list.skippedPaths.emplace_back(path);
      continue;
    }
    std::string_view name = path.substr(separator + 1);
    if (!IsContainedRelativePath(name)) {  // "Data\\x" names a root path
      list.refusedPath = std::string(path);
      return PatchListResult::kBadRecord;
    }
    PatchFileEntry entry;
    entry.m_strPath = std::string(path);
    // One kind of separator from here on, the one the folder and music-patch rules look for. No
    // byte of a double-byte character is a '/', so the change cannot split one.
    entry.m_strName = std::string(name);
    std::replace(entry.m_strName.begin(), entry.m_strName.end(), '/', '\\');
    entry.m_nSize = size;
    entry.m_nExtra = extra;
    list.totalBytes += static_cast<uint32_t>(size);
    taken.push_back(std::move(entry));
    lastTaken = path;
    anyTaken = true;
  }
  // The list is installed from its last record to its first.
  list.entries.assign(std::make_move_iterator(taken.rbegin()), std::make_move_iterator(taken.rend()));
  return PatchListResult::kOk;
}

}  // namespace pipeline

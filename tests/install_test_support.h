// Scratch game folders and archives made by real tools, for the installation tests.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace install_test {

namespace fs = std::filesystem;

inline void WriteText(const fs::path& path, const std::string& bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every file below `root`, as "relative/path" lines, sorted: a picture of what was written.
inline std::string Listing(const fs::path& root) {
  std::vector<std::string> names;
  for (auto& entry : fs::recursive_directory_iterator(root)) {
    names.push_back(fs::relative(entry.path(), root).string() + (entry.is_directory() ? "/" : ""));
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (auto& name : names) text += name + "\n";
  return text;
}

inline int RunShell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Writes an archive with Python's zipfile. `entries` is a Python list of tuples
// (name bytes, data bytes, method, utf8 flag); names are patched in afterwards as raw bytes, so
// any byte string (code page 936, hostile paths) can be stored exactly, with or without bit 11.
inline void MakeZip(const fs::path& archive, const std::string& entries, const std::string& comment = "") {
  fs::path script = fs::temp_directory_path() / ("tarvo-mkzip-" + std::to_string(getpid()) + ".py");
  WriteText(script, R"PY(import struct, sys, warnings, zipfile
warnings.simplefilter('ignore')
path = sys.argv[1]
entries = )PY" + entries + R"PY(
comment = )PY" + (comment.empty() ? std::string("b''") : comment) + R"PY(
with zipfile.ZipFile(path, 'w') as z:
    for name, data, method, utf8 in entries:
        info = zipfile.ZipInfo('a' * len(name), (2020, 1, 1, 0, 0, 0))
        info.compress_type = method
        z.writestr(info, data)
    z.comment = comment
raw = bytearray(open(path, 'rb').read())
end = raw.rfind(b'PK\x05\x06')
count, size, start = struct.unpack_from('<HII', raw, end + 10)
pos = start
for name, data, method, utf8 in entries:
    n, m, k = struct.unpack_from('<HHH', raw, pos + 28)
    local = struct.unpack_from('<I', raw, pos + 42)[0]
    raw[pos + 46:pos + 46 + n] = name
    raw[local + 30:local + 30 + n] = name
    for flags_at in (pos + 8, local + 6):
        flags = struct.unpack_from('<H', raw, flags_at)[0]
        flags = (flags | 0x800) if utf8 else (flags & ~0x800)
        struct.pack_into('<H', raw, flags_at, flags)
    pos += 46 + n + m + k
open(path, 'wb').write(raw)
)PY");
  ASSERT_EQ(RunShell("/usr/bin/python3 " + script.string() + " '" + archive.string() + "'"), 0) << entries;
  fs::remove(script);
}

// A fresh folder made current for each test: the installation works relative to it.
class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(Game());
    m_current.emplace(Game());
  }
  void TearDown() override { m_current.reset(); }
  fs::path Game() const { return m_root / "game"; }
  TempDir m_dir{"tarvo-install"};
  fs::path m_root{m_dir.Path()};  // holds the game folder and whatever a test keeps beside it

 private:
  std::optional<CurrentFolder> m_current;
};

}  // namespace install_test

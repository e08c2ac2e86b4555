// Game trees and published FTP trees for the publishing tool's tests.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "install_test_support.h"
#include "music_fixtures.h"
#include "publish/DataPatch.h"
#include "publish/Placement.h"
#include "support/ClientProcess.h"

namespace publish_test {

namespace fs = std::filesystem;
using install_test::ReadText;
using install_test::WriteText;

// Relative path ('/' separated) to content.
using Tree = std::map<std::string, std::string>;

inline void WriteTree(const fs::path& root, const Tree& tree) {
  fs::create_directories(root);
  for (const auto& [path, content] : tree) WriteText(root / path, content);
}

// Bytes that deflate well, and bytes that do not, of a given size.
inline std::string Compressible(size_t size, char seed) {
  std::string text;
  while (text.size() < size) text += std::string("Tarvo level data ") + seed + " " + std::to_string(text.size()) + "\n";
  return text.substr(0, size);
}
inline std::string Incompressible(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return bytes;
}

inline std::string MusicBytes(uint32_t id, float version) {
  musictest::MusicFileLayout layout;
  layout.id = id;
  layout.version = version;
  musictest::Bytes bytes = musictest::MusicFileBytes(layout);
  return std::string(bytes.begin(), bytes.end());
}

struct Published {
  int code = 0;
  std::string out, err;
};

inline Published PublishLevel(const std::string& root, const std::string& from, const std::string& to,
                              const fs::path& oldTree, const fs::path& newTree, uint64_t maxBytes = 100 << 20) {
  std::ostringstream out, err;
  publish::DataOptions options{root, from, to, oldTree.string(), newTree.string(), maxBytes};
  Published result;
  result.code = publish::PublishData(options, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

// A scratch folder with three game trees (levels 1.0, 1.1 and 1.2) and an FTP root holding both
// levels, the launcher, agent list, client and three songs with their list.
class PublishedWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every installation has its music folder; the client puts fetched music there at each start.
    for (const std::string& tree : {Tree10(), Tree11(), Tree12()}) {
      WriteTree(tree, {{"Music/zoma1.qkn", MusicBytes(1, 1.0f)}});
    }
    WriteTree(Tree10(), {{"Zobi.exe", "game 1.0"},
                         {"Data/a.dat", Compressible(5000, 'a')},
                         {"Data/old.dat", "dropped in 1.1"},
                         {"Texture/pack.bin", Incompressible(40000, 1)}});
    WriteTree(Tree11(), {{"Zobi.exe", "game 1.1"},
                         {"Data/a.dat", Compressible(6000, 'A')},
                         {"Data/Sub/new.dat", Compressible(3000, 'n')},
                         {"Texture/pack.bin", Incompressible(40000, 1)},
                         {"音乐/说明.txt", "UTF-8 name"}});
    WriteTree(Tree12(), {{"Zobi.exe", "game 1.2"},
                         {"Data/a.dat", Compressible(6000, 'A')},
                         {"Data/Sub/new.dat", Compressible(3500, 'm')},
                         {"Texture/pack.bin", Incompressible(50000, 2)},
                         {"音乐/说明.txt", "UTF-8 name"}});
    ASSERT_EQ(PublishLevel(Root(), "1.0", "1.1", Tree10(), Tree11()).code, 0);
    ASSERT_EQ(PublishLevel(Root(), "1.1", "1.2", Tree11(), Tree12()).code, 0);

    std::ostringstream out, err;
    for (const char* kind : {"launcher", "agent-list", "client"}) {
      WriteText(m_dir / kind, std::string("new ") + kind);
      ASSERT_EQ(publish::PlaceFixedFile(kind, m_dir / kind, Root(), out, err), 0) << err.str();
    }
    std::vector<std::string> songs;
    for (uint32_t id : {1u, 2u, 5u | (2u << 16)}) {
      songs.push_back(m_dir / ("song" + std::to_string(id)));
      WriteText(songs.back(), MusicBytes(id, 1.5f));
    }
    ASSERT_EQ(publish::PublishMusic(songs, Root(), out, err), 0) << err.str();
  }

  std::string Root() const { return m_dir / "ftp/tarvo"; }
  std::string Remote(const std::string& relative) const { return Root() + "/" + relative; }
  std::string Tree10() const { return m_dir / "tree-1.0"; }
  std::string Tree11() const { return m_dir / "tree-1.1"; }
  std::string Tree12() const { return m_dir / "tree-1.2"; }

  TempDir m_dir;
};

}  // namespace publish_test

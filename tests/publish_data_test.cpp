// Publishing a data level: the archives hold exactly the changed files as the client's reader sees
// them, split at the size limit and listed so that the first archive is installed first; trees the
// client could not install are refused before anything is written. The fixed files and the music
// go where the named fetches look, with a music list the client's reader takes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <set>

#include "install/ZipReader.h"
#include "music/MusicList.h"
#include "pipeline/PatchListFile.h"
#include "publish_test_support.h"

namespace {

using namespace publish_test;

// Every entry of an archive as the client unpacks it: its name ('\' separated) and its bytes.
std::map<std::string, std::string> Unpacked(const std::string& archive, std::set<std::string>* utf8Names = nullptr) {
  std::map<std::string, std::string> entries;
  std::unique_ptr<FILE, int (*)(FILE*)> stream(fopen(archive.c_str(), "rb"), fclose);
  CZipReader reader;
  EXPECT_EQ(reader.Open(stream.get()), 0) << archive;
  for (int i = 0; i < reader.GetEntryCount(); ++i) {
    char name[CZipReader::kMaxNameLength + 1];
    reader.GetEntryName(i, name);
    std::string bytes;
    EXPECT_EQ(reader.ExtractEntryTo(i, [&](const uint8_t* data, size_t size) {
      bytes.append(reinterpret_cast<const char*>(data), size);
      return true;
    }), 0) << name;
    entries[name] = bytes;
    if (utf8Names && reader.IsEntryNameUtf8(i)) utf8Names->insert(name);
  }
  return entries;
}

pipeline::PatchList ReadList(const std::string& path) {
  pipeline::PatchList list;
  EXPECT_EQ(pipeline::ParsePatchList(ReadText(path), list), pipeline::PatchListResult::kOk);
  return list;
}

class DataTest : public PublishedWorld {};

TEST_F(DataTest, ArchivesHoldTheChangedFilesAsTheClientReadsThem) {
  pipeline::PatchList list = ReadList(Remote("PatchInfo/FileList_100.dat"));
  EXPECT_EQ(list.targetVersion, "1.1");
  ASSERT_EQ(list.entries.size(), 1u);
  EXPECT_EQ(list.entries[0].m_strPath, "TarvoPatch\\Patch_100_110_01.zip");
  EXPECT_EQ(list.entries[0].m_nSize, static_cast<int32_t>(fs::file_size(Remote("TarvoPatch/Patch_100_110_01.zip"))));

  std::set<std::string> utf8Names;
  const std::map<std::string, std::string> expected{{"Zobi.exe", "game 1.1"},
                                                    {"Data\\a.dat", Compressible(6000, 'A')},
                                                    {"Data\\Sub\\new.dat", Compressible(3000, 'n')},
                                                    {"音乐\\说明.txt", "UTF-8 name"}};
  EXPECT_EQ(Unpacked(Remote("TarvoPatch/Patch_100_110_01.zip"), &utf8Names), expected);
  EXPECT_EQ(utf8Names, std::set<std::string>{"音乐\\说明.txt"});
  // Changed bytes that do not deflate, at the next level, arrive whole too.
  EXPECT_EQ(Unpacked(Remote("TarvoPatch/Patch_110_120_01.zip"))["Texture\\pack.bin"], Incompressible(50000, 2));
}

TEST_F(DataTest, FilesGoneFromTheNewTreeAreReportedAsLeftBehind) {
  Published result = PublishLevel(Root(), "1.0", "1.1", Tree10(), Tree11());
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_NE(result.out.find("A patch cannot delete files"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("  Data/old.dat\n"), std::string::npos) << result.out;
}

TEST_F(DataTest, ArchivesSplitAtTheLimitAndTheFirstIsInstalledFirst) {
  WriteTree(m_dir / "big", {{"a.bin", Incompressible(600 << 10, 3)},
                            {"b.bin", Incompressible(600 << 10, 4)},
                            {"c.bin", Incompressible(1500 << 10, 5)},
                            {"d.txt", "small"}});
  Published result = PublishLevel(Root(), "1.2", "1.3", Tree12(), m_dir / "big", 1 << 20);
  ASSERT_EQ(result.code, 0) << result.err;

  pipeline::PatchList list = ReadList(Remote("PatchInfo/FileList_120.dat"));
  std::vector<std::string> installed;
  std::map<std::string, std::string> all;
  for (const PatchFileEntry& entry : list.entries) {
    installed.push_back(entry.m_strName);
    std::map<std::string, std::string> entries = Unpacked(Remote("TarvoPatch/" + entry.m_strName));
    // A file larger than the limit gets an archive of its own; no other archive passes the limit.
    if (entries.size() > 1) {
      EXPECT_LE(fs::file_size(Remote("TarvoPatch/" + entry.m_strName)), 1u << 20);
    }
    all.insert(entries.begin(), entries.end());
  }
  EXPECT_EQ(installed, (std::vector<std::string>{"Patch_120_130_01.zip", "Patch_120_130_02.zip",
                                                 "Patch_120_130_03.zip", "Patch_120_130_04.zip"}));
  EXPECT_EQ(all.size(), 4u);
  EXPECT_EQ(all["c.bin"], Incompressible(1500 << 10, 5));

  // Published again with less to carry, the level's surplus archives go away.
  WriteTree(m_dir / "small", {{"d.txt", "smaller"}});
  ASSERT_EQ(PublishLevel(Root(), "1.2", "1.3", Tree12(), m_dir / "small", 1 << 20).code, 0);
  EXPECT_EQ(ReadList(Remote("PatchInfo/FileList_120.dat")).entries.size(), 1u);
  EXPECT_FALSE(fs::exists(Remote("TarvoPatch/Patch_120_130_02.zip")));
  EXPECT_TRUE(fs::exists(Remote("TarvoPatch/Patch_110_120_01.zip")));
}

TEST_F(DataTest, TreesTheClientCouldNotInstallAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* what;
    Tree tree;
    const char* reason;
  } cases[] = {
      {"backslash", {{"Data/a\\b.dat", "x"}}, "holds a backslash"},
      {"case", {{"Data/File.dat", "x"}, {"Data/file.dat", "y"}}, "differs from Data/File.dat only in case"},
      {"long name", {{"Data/" + std::string(255, 'n'), "x"}}, "is longer than the 259 bytes"},
      {"dots", {{"Data/.../x.dat", "x"}}, "is refused by the client"},
      {"archive's name", {{"patch_120_130_01.zip", "x"}}, "named like the archive Patch_120_130_01.zip"},
      // Names that change between file and folder: installations keep what they have.
      {"file to folder", {{"Data/a.dat/m1.dat", "x"}},
       "Data/a.dat/m1.dat: needs a folder where the old tree has the file Data/a.dat: a patch cannot remove a file"},
      {"folder to file", {{"data/SUB", "x"}},
       "data/SUB: is a file where the old tree has the folder Data/Sub: a patch cannot remove a folder"},
      {"empty folder to file", {{"Data/Empty", "x"}}, "is a file where the old tree has the folder Data/Empty"},
      {"file and folder in case", {{"Maps", "x"}, {"maps/m1.dat", "y"}},
       "maps/m1.dat: needs a folder where the new tree has the file Maps"},
  };
  fs::create_directories(fs::path(Tree12()) / "Data/Empty");
  for (const Case& c : cases) {
    const fs::path tree = m_dir / ("refused-" + std::string(c.what));
    WriteTree(tree, c.tree);
    Published result = PublishLevel(Root(), "1.2", "1.3", Tree12(), tree);
    EXPECT_EQ(result.code, 1) << c.what;
    EXPECT_NE(result.err.find(c.reason), std::string::npos) << c.what << ": " << result.err;
    EXPECT_FALSE(fs::exists(Remote("PatchInfo/FileList_120.dat"))) << c.what;
  }
  const fs::path linked = m_dir / "linked";
  WriteTree(linked, {{"a.dat", "a"}});
  fs::create_symlink("a.dat", linked / "b.dat");
  Published result = PublishLevel(Root(), "1.2", "1.3", Tree12(), linked);
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("b.dat: is a link"), std::string::npos) << result.err;

  EXPECT_EQ(PublishLevel(Root(), "1.2", "1.3", Tree12(), Tree12()).code, 1);  // nothing to carry
  EXPECT_EQ(PublishLevel(Root(), "1.2", "1.2.0", Tree11(), Tree12()).code, 2);  // would not advance
  EXPECT_EQ(PublishLevel(Root(), "v1", "1.3", Tree11(), Tree12()).code, 2);
  EXPECT_EQ(PublishLevel(Root(), "1.2", "1.3 beta", Tree11(), Tree12()).code, 1);  // the client reads "1.3"
  EXPECT_FALSE(fs::exists(Remote("PatchInfo/FileList_120.dat")));
}

TEST_F(DataTest, FixedFilesAndSongsGoWhereTheFetchesLookWithAListOfEverySong) {
  EXPECT_EQ(ReadText(Remote("TarvoPatch/Tarvo.exe")), "new launcher");
  EXPECT_EQ(ReadText(Remote("TarvoPatch/AgentIP.ini")), "new agent-list");
  EXPECT_EQ(ReadText(Remote("TarvoPatch/TarvoPatchClient.exe")), "new client");
  EXPECT_EQ(ReadText(Remote("TarvoMusic/zoma5_2.qkn")), MusicBytes(5 | (2 << 16), 1.5f));

  const std::string list = ReadText(Remote("TarvoPatch/QKNList.dat"));
  CMemorySource source(reinterpret_cast<const uint8_t*>(list.data()), list.size());
  std::vector<uint32_t> ids;
  for (const MusicHeader& record : ReadMusicList(source)) {
    ids.push_back(record.MusicId());
    EXPECT_FLOAT_EQ(record.Version(), 1.5f);
  }
  EXPECT_EQ(ids, (std::vector<uint32_t>{1, 2, 5 | (2 << 16)}));
  EXPECT_EQ(list.size(), 4u + 3 * kMusicHeaderSize);

  std::ostringstream out, err;
  WriteText(m_dir / "short.qkn", "not a song");
  EXPECT_EQ(publish::PublishMusic({m_dir / "short.qkn"}, Root(), out, err), 1);
  // A song under another song's name would be listed under an id whose file is not there.
  WriteText(Remote("TarvoMusic/zoma9.qkn"), MusicBytes(1, 2.0f));
  EXPECT_EQ(publish::PublishMusic({}, Root(), out, err), 1);
  EXPECT_NE(err.str().find("TarvoMusic/zoma9.qkn does not hold the music its name says"), std::string::npos)
      << err.str();
  EXPECT_EQ(ReadText(Remote("TarvoPatch/QKNList.dat")), list);
}

}  // namespace

// The server's music list and the choice of songs to fetch again.
#include <gtest/gtest.h>

#include <cmath>

#include "app/PatchClientDlg.h"
#include "music_fixtures.h"
#include "music/MusicList.h"

using namespace musictest;

namespace {

Bytes Record(uint32_t id, float version) {
  Bytes r(300, 0x11);
  PutU32(r, 0, id);
  PutU32(r, 104, FloatBits(version));
  return r;
}

Bytes ListBytes(uint32_t count, const std::vector<Bytes>& records) {
  Bytes b;
  PutU32(b, 0, count);
  for (auto& r : records) b.insert(b.end(), r.begin(), r.end());
  return b;
}

class MusicListTest : public GameFolderTest {
 protected:
  void WriteList(const Bytes& b) { WriteFile("Image/Temp/QKNList_New.dat", b); }
  CPatchClientDlg m_dlg;
};

TEST_F(MusicListTest, RecordsAreReadInFileOrderAndAShortLastRecordIsZeroFilled) {
  Bytes partial = Record(9, 3.0f);
  partial.resize(50);
  WriteList(ListBytes(3, {Record(1, 1.5f), Record(65539, 2.0f), partial}));
  ASSERT_EQ(m_dlg.LoadNewMusicList(), 1);
  auto& list = m_dlg.m_newMusicList;
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].MusicId(), 1u);
  EXPECT_EQ(list[0].Version(), 1.5f);
  EXPECT_EQ(list[1].MusicId(), 65539u);
  EXPECT_EQ(Bytes(list[1].bytes.begin(), list[1].bytes.end()), Record(65539, 2.0f)) << "all 300 bytes are kept";
  EXPECT_EQ(list[2].MusicId(), 9u);
  EXPECT_EQ(list[2].bytes[49], 0x11);
  EXPECT_EQ(list[2].bytes[50], 0);
  EXPECT_EQ(list[2].Version(), 0.0f);
}

TEST_F(MusicListTest, CountBeyondTheFileIsBoundedByItsSize) {
  WriteList(ListBytes(2, {Record(1, 1.0f)}));
  ASSERT_EQ(m_dlg.LoadNewMusicList(), 1);
  ASSERT_EQ(m_dlg.m_newMusicList.size(), 2u);
  EXPECT_EQ(m_dlg.m_newMusicList[1].bytes, MusicHeader{}.bytes) << "one missing record reads as zeros";

  Bytes tenBytes = ListBytes(0xFFFFFFFFu, {});
  tenBytes.resize(10, 0x22);
  WriteList(tenBytes);
  ASSERT_EQ(m_dlg.LoadNewMusicList(), 1);
  ASSERT_EQ(m_dlg.m_newMusicList.size(), 1u);
  EXPECT_EQ(m_dlg.m_newMusicList[0].bytes[5], 0x22);
  EXPECT_EQ(m_dlg.m_newMusicList[0].bytes[6], 0);

  WriteList(ListBytes(100000, std::vector<Bytes>(3, Record(4, 1.0f))));
  ASSERT_EQ(m_dlg.LoadNewMusicList(), 1);
  EXPECT_EQ(m_dlg.m_newMusicList.size(), 4u);
}

TEST_F(MusicListTest, EmptyFileGivesAnEmptyListAndAMissingOneKeepsTheOld) {
  WriteList(ListBytes(1, {Record(5, 1.0f)}));
  ASSERT_EQ(m_dlg.LoadNewMusicList(), 1);
  std::filesystem::remove("Image/Temp/QKNList_New.dat");
  EXPECT_EQ(m_dlg.LoadNewMusicList(), 0);
  EXPECT_EQ(m_dlg.m_newMusicList.size(), 1u);
  WriteList({});
  EXPECT_EQ(m_dlg.LoadNewMusicList(), 1);
  EXPECT_TRUE(m_dlg.m_newMusicList.empty());
  WriteList({1, 0, 0});  // too short for a count
  EXPECT_EQ(m_dlg.LoadNewMusicList(), 1);
  EXPECT_TRUE(m_dlg.m_newMusicList.empty());
}

std::vector<MusicHeader> List(std::initializer_list<std::pair<uint32_t, float>> records) {
  std::vector<MusicHeader> list;
  for (auto [id, version] : records) {
    MusicHeader h;
    h.SetU32(0, id);
    h.SetU32(104, FloatBits(version));
    list.push_back(h);
  }
  return list;
}

TEST(NewerMusicTest, OnlyAStrictlyGreaterListVersionAsksForAFetch) {
  const float nan = std::nanf("");
  const std::vector<MusicCatalogEntry> catalog = {{1, 1.0f, 0}, {2, 1.0f, 0}, {3, nan, 0}, {4, 2.0f, 0}};
  EXPECT_EQ(SelectNewerMusic(List({{1, 1.0f}}), catalog), std::vector<uint32_t>{});
  EXPECT_EQ(SelectNewerMusic(List({{1, 1.5f}}), catalog), std::vector<uint32_t>{1});
  EXPECT_EQ(SelectNewerMusic(List({{2, nan}, {3, 5.0f}, {4, 1.5f}}), catalog), std::vector<uint32_t>{});
  EXPECT_EQ(SelectNewerMusic(List({{5, 9.0f}}), catalog), std::vector<uint32_t>{}) << "not in the folder";
  // The order follows the list; a song catalogued twice is named twice.
  const std::vector<MusicCatalogEntry> twice = {{7, 1.0f, 0}, {8, 1.0f, 0}, {7, 0.5f, 0}};
  EXPECT_EQ(SelectNewerMusic(List({{8, 2.0f}, {7, 2.0f}}), twice), (std::vector<uint32_t>{8, 7, 7}));
  EXPECT_EQ(SelectNewerMusic(List({{7, 0.75f}}), twice), std::vector<uint32_t>{7});
}

}  // namespace

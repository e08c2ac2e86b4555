// The music catalogue: which files of the music folder are catalogued, and with what.
#include <gtest/gtest.h>

#include <deque>

#include "app/PatchClientDlg.h"
#include "music_fixtures.h"
#include "music/MusicScan.h"
#include "music/RawFile.h"

using namespace musictest;
namespace fs = std::filesystem;

namespace {

class MusicCatalogTest : public GameFolderTest {
 protected:
  CPatchClientDlg m_dlg;
};

bool Contains(const std::vector<MusicCatalogEntry>& catalog, uint32_t id) {
  for (auto& e : catalog)
    if (e.musicId == id) return true;
  return false;
}

TEST_F(MusicCatalogTest, HeadersOfTheMusicFolderFillTheCatalogue) {
  WriteFile("Music/zoma7.qkn", MusicFileBytes({.id = 7, .version = 1.5f, .hasThumbnail = 1}));
  WriteFile("Music/OLD7.QKN", MusicFileBytes({.id = 7, .version = 1.25f}));       // same id, other name
  WriteFile("Music/zoma3_1.qkn", MusicFileBytes({.id = 65539, .version = 2.0f}));  // number 3, variant 1
  WriteFile("Music/zoma8888.qkn", MusicFileBytes({.id = 8888}));
  WriteFile("Music/readme.txt", MusicFileBytes({.id = 99}));
  fs::create_directories("Music/folder.qkn");
  WriteFile("Music/tiny.qkn", Bytes{0x2A, 0, 0, 0, 1, 2, 3, 4, 5, 6});

  m_dlg.ScanMusicFolder();

  std::vector<MusicCatalogEntry>& c = m_dlg.m_musicCatalog;
  ASSERT_EQ(c.size(), 4u);
  EXPECT_FALSE(Contains(c, 8888));
  EXPECT_FALSE(Contains(c, 99));
  int sevens = 0;
  for (auto& e : c) {
    if (e.musicId == 7) {
      ++sevens;
      EXPECT_TRUE((e.version == 1.5f && e.hasThumbnail == 1) || (e.version == 1.25f && e.hasThumbnail == 0));
    } else if (e.musicId == 65539) {
      EXPECT_EQ(e.version, 2.0f);
    } else {
      EXPECT_EQ(e.musicId, 42u) << "a short file gives its first four bytes as id";
      EXPECT_EQ(e.version, 0.0f);
      EXPECT_EQ(e.hasThumbnail, 0);
    }
  }
  EXPECT_EQ(sevens, 2);
}

TEST_F(MusicCatalogTest, NothingToListLeavesTheCatalogueAsItWas) {
  m_dlg.m_musicCatalog = {{5, 1.0f, 0}};
  m_dlg.ScanMusicFolder();  // no music folder
  ASSERT_EQ(m_dlg.m_musicCatalog.size(), 1u);
  WriteFile("music/notes.txt", Bytes{1});
  m_dlg.ScanMusicFolder();  // a folder without music files
  ASSERT_EQ(m_dlg.m_musicCatalog.size(), 1u);
  WriteFile("music/zoma1.qkn", MusicFileBytes({.id = 1}));
  m_dlg.ScanMusicFolder();
  ASSERT_EQ(m_dlg.m_musicCatalog.size(), 1u);
  EXPECT_EQ(m_dlg.m_musicCatalog[0].musicId, 1u);
}

TEST_F(MusicCatalogTest, FileHeldWithoutSharingIsSkipped) {
  WriteFile("Music/zoma1.qkn", MusicFileBytes({.id = 1}));
  WriteFile("Music/zoma2.qkn", MusicFileBytes({.id = 2}));
  CRawFile holder;
  holder.OpenWrite("Music\\zoma2.qkn", 0);
  ASSERT_TRUE(holder.IsOpen());
  m_dlg.ScanMusicFolder();
  holder.Close();
  ASSERT_EQ(m_dlg.m_musicCatalog.size(), 1u);
  EXPECT_EQ(m_dlg.m_musicCatalog[0].musicId, 1u);
}

// A listing that plays back a script of steps over the files it names.
class ScriptedListing : public IFolderListing {
 public:
  ScriptedListing(std::vector<std::string> names, std::deque<ListingStep> steps)
      : m_names(std::move(names)), m_steps(std::move(steps)) {}
  bool First(const std::string&) override { return !m_names.empty(); }
  ListingStep Next() override {
    ++m_requests;
    ListingStep step = m_steps.empty() ? ListingStep::End : m_steps.front();
    if (!m_steps.empty()) m_steps.pop_front();
    if (step == ListingStep::Found && ++m_index >= m_names.size()) step = ListingStep::End;
    return step;
  }
  const std::string& Name() const override { return m_names[m_index]; }
  bool IsDirectory() const override { return false; }
  int m_requests = 0;

 private:
  std::vector<std::string> m_names;
  std::deque<ListingStep> m_steps;
  size_t m_index = 0;
};

TEST_F(MusicCatalogTest, FailingListingStepIsRetriedABoundedNumberOfTimes) {
  WriteFile("Music/a.qkn", MusicFileBytes({.id = 1}));
  WriteFile("Music/b.qkn", MusicFileBytes({.id = 2}));
  std::vector<MusicCatalogEntry> catalog;

  // A passing failure: each file is catalogued once.
  ScriptedListing passing({"a.qkn", "b.qkn"}, {ListingStep::Failed, ListingStep::Failed, ListingStep::Found});
  ScanMusicListing(passing, "", "Music", catalog);
  ASSERT_EQ(catalog.size(), 2u);
  EXPECT_EQ(catalog[0].musicId, 1u);
  EXPECT_EQ(catalog[1].musicId, 2u);

  // A lasting failure ends the scan with what it has.
  ScriptedListing lasting({"a.qkn", "b.qkn"}, std::deque<ListingStep>(100, ListingStep::Failed));
  ScanMusicListing(lasting, "", "Music", catalog);
  ASSERT_EQ(catalog.size(), 1u);
  EXPECT_EQ(lasting.m_requests, 1 + kListingRetries);
}

}  // namespace

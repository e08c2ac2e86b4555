// The music step of a run against a real FTP server: catalogue, thumbnails, the server's list and
// the fetch of the songs that changed.
#include "music_fixtures.h"
#include "transfer_fixture.h"

using namespace transfer_test;
namespace mt = musictest;

namespace {

mt::Bytes ListRecord(uint32_t id, float version) {
  mt::Bytes r(300, 0);
  mt::PutU32(r, 0, id);
  mt::PutU32(r, 104, mt::FloatBits(version));
  return r;
}

TEST_F(TransferTest, MusicStepFetchesOnlySongsWhoseListVersionIsNewer) {
  FtpServer& server = StartServer();
  const std::string song1 = server.PutPatternFile("TarvoMusic/zoma1.qkn", 5000);
  const std::string song3 = server.PutPatternFile("TarvoMusic/zoma3_1.qkn", 3000);
  server.PutPatternFile("TarvoMusic/zoma2.qkn", 100);
  server.PutPatternFile("TarvoMusic/zoma9.qkn", 100);

  mt::WriteFile(GamePath("Music/zoma1.qkn"), mt::MusicFileBytes({.id = 1, .version = 1.0f}));
  mt::WriteFile(GamePath("Music/zoma2.qkn"), mt::MusicFileBytes({.id = 2, .version = 2.0f, .hasThumbnail = 1}));
  mt::WriteFile(GamePath("Music/zoma3_1.qkn"), mt::MusicFileBytes({.id = 65539, .version = 1.0f}));
  mt::WriteFile(GamePath("Image/Interface1.zpi"), mt::ImagePackBytes({mt::SolidPicture("SMI_1.qks", 4, 4, 0x7FFF)}));
  mt::Bytes list;
  mt::PutU32(list, 0, 4);
  for (auto [id, version] : {std::pair{1u, 1.5f}, {2u, 2.0f}, {65539u, 3.0f}, {9u, 5.0f}}) {
    mt::Bytes r = ListRecord(id, version);
    list.insert(list.end(), r.begin(), r.end());
  }
  mt::WriteFile(GamePath("Image/Temp/QKNList_New.dat"), list);

  CPatchClientDlg& dlg = Dlg();
  dlg.ScanMusicFolder();
  ASSERT_EQ(dlg.m_musicCatalog.size(), 3u);
  dlg.EmbedMissingThumbnails();
  ASSERT_EQ(dlg.LoadNewMusicList(), 1);
  dlg.FetchNewerMusic();

  EXPECT_TRUE(StopCodes().empty());
  EXPECT_EQ(server.CountInLog("<- RETR"), 2);
  EXPECT_EQ(ReadWholeFile(GamePath("Music/Temp/zoma1.qkn")), song1);
  EXPECT_EQ(ReadWholeFile(GamePath("Music/Temp/zoma3_1.qkn")), song3);
  const mt::Bytes thumbnailed = mt::ReadFile(GamePath("Music/zoma1.qkn"));
  EXPECT_EQ(thumbnailed[99], 1);
  EXPECT_EQ(thumbnailed.size(), 1000u + 54u + 48u);
  EXPECT_EQ(mt::ReadFile(GamePath("Music/zoma3_1.qkn"))[99], 0) << "no picture for it in the pack";
  EXPECT_EQ(platform::GetCurrentDirectory(), m_game);
}

}  // namespace

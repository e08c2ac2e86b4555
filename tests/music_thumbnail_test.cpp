// Thumbnails taken from the image pack and appended to music files.
#include <gtest/gtest.h>

#include "app/PatchClientDlg.h"
#include "music_fixtures.h"
#include "music/MusicNames.h"
#include "music/RawFile.h"

using namespace musictest;
namespace fs = std::filesystem;

namespace {

class MusicThumbnailTest : public GameFolderTest {
 protected:
  void WritePack(const std::vector<PackPictureLayout>& pictures) { WriteFile("Image/Interface1.zpi", ImagePackBytes(pictures)); }
  void WritePackBytes(const Bytes& bytes) { WriteFile("Image/Interface1.zpi", bytes); }
  fs::path WriteMusic(const std::string& name, const MusicFileLayout& layout) {
    fs::path path = fs::path("Music") / name;
    WriteFile(path, MusicFileBytes(layout));
    return path;
  }
  // The appended bitmap of a music file whose thumbnail went to `place`.
  static Bytes BitmapAt(const Bytes& file, size_t place) { return Bytes(file.begin() + long(place), file.end()); }

  CPatchClientDlg m_dlg;
};

TEST_F(MusicThumbnailTest, EightyByEightyPictureIsAppendedAndOnlyTheThumbnailFieldsChange) {
  PackPictureLayout picture{"smi_42.QKS", 80, 80, {}};
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 80; ++x) picture.pixels.push_back(uint16_t((y % 32) << 10 | (x % 32)));
  WritePack({SolidPicture("SMI_41.qks", 2, 2, 0x7FFF), picture, SolidPicture("SMI_43.qks", 1, 1, 0)});
  fs::path music = WriteMusic("zoma42.qkn", {.id = 42, .bodySize = 700, .lastBlockOffset = 600, .lastBlockSize = 400});
  const Bytes before = ReadFile(music);

  ASSERT_EQ(m_dlg.EmbedThumbnail(42), 1);

  const Bytes after = ReadFile(music);
  ASSERT_EQ(after.size(), 1000u + 19254u);
  for (size_t i = 0; i < 1000; ++i) {
    if (i == 99 || (i >= 100 && i < 104)) continue;
    ASSERT_EQ(after[i], before[i]) << "byte " << i;
  }
  EXPECT_EQ(after[99], 1);
  EXPECT_EQ(GetU32(after, 100), 19254u);

  const Bytes bmp = BitmapAt(after, 1000);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(GetU32(bmp, 2), 19254u);
  EXPECT_EQ(GetU32(bmp, 6), 0u);
  EXPECT_EQ(GetU32(bmp, 10), 54u);
  EXPECT_EQ(GetU32(bmp, 14), 40u);
  EXPECT_EQ(GetU32(bmp, 18), 80u);
  EXPECT_EQ(GetU32(bmp, 22), 80u);
  EXPECT_EQ(GetU32(bmp, 26), 1u | 24u << 16);  // planes, bits per pixel
  EXPECT_EQ(GetU32(bmp, 30), 0u);
  EXPECT_EQ(GetU32(bmp, 34), 0u);
  EXPECT_EQ(GetU32(bmp, 38), 3779u);
  EXPECT_EQ(GetU32(bmp, 42), 3779u);
  EXPECT_EQ(GetU32(bmp, 46), 0u);
  EXPECT_EQ(GetU32(bmp, 50), 0u);
  // Bottom row first: stored row r is picture row 79 - r; red follows the row, blue the column.
  for (int r = 0; r < 80; ++r) {
    const int y = 79 - r;
    for (int x = 0; x < 80; ++x) {
      const uint8_t* px = bmp.data() + 54 + size_t(r) * 240 + size_t(x) * 3;
      ASSERT_EQ(px[0], uint8_t((x % 32) << 3)) << r << "," << x;
      ASSERT_EQ(px[1], 0);
      ASSERT_EQ(px[2], uint8_t((y % 32) << 3)) << r << "," << x;
    }
  }
}

TEST_F(MusicThumbnailTest, PixelsWidenEachChannelToTheTopFiveBitsInBlueGreenRedOrder) {
  WritePack({PackPictureLayout{"SMI_5.qks", 5, 1, {0x7FFF, 0x001F, 0x7C00, 0x03E0, 0x8000}}});
  fs::path music = WriteMusic("zoma5.qkn", {.id = 5});
  ASSERT_EQ(m_dlg.EmbedThumbnail(5), 1);
  const Bytes bmp = BitmapAt(ReadFile(music), 1000);
  const Bytes pixels(bmp.begin() + 54, bmp.end());
  EXPECT_EQ(pixels, (Bytes{0xF8, 0xF8, 0xF8, 0xF8, 0, 0, 0, 0, 0xF8, 0, 0xF8, 0, 0, 0, 0}));
}

TEST_F(MusicThumbnailTest, RowsAreUnpaddedAndStoredBottomFirst) {
  PackPictureLayout picture{"SMI_6.qks", 6, 2, {}};
  picture.pixels.assign(6, 0x001F);                     // top row blue
  picture.pixels.insert(picture.pixels.end(), 6, 0x7C00);  // bottom row red
  WritePack({picture});
  fs::path music = WriteMusic("zoma6.qkn", {.id = 6});
  ASSERT_EQ(m_dlg.EmbedThumbnail(6), 1);
  const Bytes file = ReadFile(music);
  ASSERT_EQ(file.size(), 1000u + 90u);
  const Bytes bmp = BitmapAt(file, 1000);
  EXPECT_EQ(GetU32(bmp, 2), 90u);
  EXPECT_EQ(GetU32(file, 100), 90u);
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(bmp[54 + 3 * x + 2], 0xF8) << "first stored row is the bottom (red) row";
    EXPECT_EQ(bmp[54 + 18 + 3 * x], 0xF8) << "second stored row follows without padding";
  }
}

TEST_F(MusicThumbnailTest, VariantIdUsesVariantNamesForPictureAndFile) {
  const uint32_t id = 7 | 2u << 16;
  WritePack({SolidPicture("SMI_7.qks", 1, 1, 0x001F), SolidPicture("SMI_7_2.qks", 1, 1, 0x7C00)});
  fs::path plain = WriteMusic("zoma7.qkn", {.id = 7});
  fs::path variant = WriteMusic("zoma7_2.qkn", {.id = id});
  const Bytes plainBefore = ReadFile(plain);
  ASSERT_EQ(m_dlg.EmbedThumbnail(id), 1);
  EXPECT_EQ(ReadFile(plain), plainBefore);
  const Bytes bmp = BitmapAt(ReadFile(variant), 1000);
  EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.end()), (Bytes{0, 0, 0xF8}));
}

TEST_F(MusicThumbnailTest, BitmapOverwritesWhateverLiesBehindTheLastBlock) {
  WritePack({SolidPicture("SMI_9.qks", 2, 2, 0x7FFF)});
  fs::path music = WriteMusic("zoma9.qkn", {.id = 9, .bodySize = 700, .lastBlockOffset = 400, .lastBlockSize = 100});
  const Bytes before = ReadFile(music);
  ASSERT_EQ(m_dlg.EmbedThumbnail(9), 1);
  const Bytes after = ReadFile(music);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after[500], 'B');
  EXPECT_EQ(Bytes(after.begin() + 500 + 66, after.end()), Bytes(before.begin() + 500 + 66, before.end()));
}

TEST_F(MusicThumbnailTest, NothingIsWrittenWithoutAUsablePicture) {
  WritePack({SolidPicture("SMI_1.qks", 2, 2, 0x7FFF), PackPictureLayout{"SMI_2.qks", 1, 1, {0}, 0x0556},
             PackPictureLayout{"SMI_3.qks", 1, 1, {0}, 0x0555, 0}});
  std::vector<fs::path> files;
  for (uint32_t id : {2u, 3u, 4u, 1u | 1u << 16}) files.push_back(WriteMusic(MusicFilePath(id).substr(6), {.id = id}));
  std::vector<Bytes> before;
  for (auto& f : files) before.push_back(ReadFile(f));

  EXPECT_EQ(m_dlg.EmbedThumbnail(2), 0) << "wrong tag";
  EXPECT_EQ(m_dlg.EmbedThumbnail(3), 0) << "no frames";
  EXPECT_EQ(m_dlg.EmbedThumbnail(4), 0) << "no such picture";
  EXPECT_EQ(m_dlg.EmbedThumbnail(1 | 1u << 16), 0) << "only the plain song's picture exists";
  for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(ReadFile(files[i]), before[i]);

  fs::remove("Image/Interface1.zpi");
  EXPECT_EQ(m_dlg.EmbedThumbnail(1), 0) << "no pack";
}

TEST_F(MusicThumbnailTest, MusicFilesThatCannotTakeAThumbnailAreLeftAlone) {
  WritePack({SolidPicture("SMI_1.qks", 2, 2, 0x7FFF), SolidPicture("SMI_2.qks", 2, 2, 0x7FFF),
             SolidPicture("SMI_3.qks", 2, 2, 0x7FFF), SolidPicture("SMI_4.qks", 2, 2, 0x7FFF),
             SolidPicture("SMI_5.qks", 2, 2, 0x7FFF), SolidPicture("SMI_6.qks", 2, 2, 0x7FFF)});
  Bytes shortFile = MusicFileBytes({.id = 1});
  shortFile.resize(299);
  WriteFile("Music/zoma1.qkn", shortFile);
  WriteMusic("zoma2.qkn", {.id = 2, .bodySize = 700, .lastBlockOffset = 900, .lastBlockSize = 101});  // past the end
  WriteMusic("zoma3.qkn", {.id = 3, .bodySize = 700, .lastBlockOffset = 0, .lastBlockSize = 0});  // inside the header
  WriteMusic("zoma4.qkn", {.id = 4, .bodySize = 700, .lastBlockOffset = 0xFFFFFF00u, .lastBlockSize = 0x200});
  fs::path held = WriteMusic("zoma5.qkn", {.id = 5});
  // A song that is a link: whatever it points at is not the game's to change.
  WriteFile("Elsewhere/song.qkn", MusicFileBytes({.id = 6}));
  // Where the system makes no links (Windows without the privilege, Wine) there is no sixth song.
  std::error_code noLinks;
  fs::create_symlink(m_root / "Elsewhere/song.qkn", "Music/zoma6.qkn", noLinks);
  const int songs = noLinks ? 5 : 6;
  std::vector<Bytes> before;
  for (int i = 1; i <= songs; ++i) before.push_back(ReadFile("Music/zoma" + std::to_string(i) + ".qkn"));

  CRawFile holder;
  ASSERT_TRUE(holder.OpenRead("Music\\zoma5.qkn"));
  for (uint32_t id = 1; id <= 6; ++id) EXPECT_EQ(m_dlg.EmbedThumbnail(id), 0) << id;
  holder.Close();
  for (int i = 1; i <= songs; ++i) EXPECT_EQ(ReadFile("Music/zoma" + std::to_string(i) + ".qkn"), before[size_t(i - 1)]) << i;
  EXPECT_EQ(m_dlg.EmbedThumbnail(7), 0) << "no music file";
}

TEST_F(MusicThumbnailTest, PackWhoseNumbersDoNotFitItsLengthGivesNoThumbnail) {
  fs::path music = WriteMusic("zoma1.qkn", {.id = 1});
  const Bytes before = ReadFile(music);
  const Bytes good = ImagePackBytes({SolidPicture("SMI_1.qks", 2, 2, 0x7FFF)});
  const size_t entry = good.size() - 152;

  Bytes hugeCount = good;
  PutU32(hugeCount, 4, 0xFFFFFFFFu);
  Bytes offsetPastEnd = good;
  PutU32(offsetPastEnd, entry + 132, 0xFFFFFF00u);
  Bytes hugePicture = good;
  PutU16(hugePicture, 16 + 8 + 4, 0xFFFF);
  PutU16(hugePicture, 16 + 8 + 6, 0xFFFF);
  Bytes headerOnly(good.begin(), good.begin() + 10);
  Bytes zeroCount = good;
  PutU32(zeroCount, 4, 0);

  for (const Bytes* pack : {&hugeCount, &offsetPastEnd, &hugePicture, &headerOnly, &zeroCount}) {
    WritePackBytes(*pack);
    EXPECT_EQ(m_dlg.EmbedThumbnail(1), 0);
    EXPECT_EQ(ReadFile(music), before);
  }
  WritePackBytes(good);
  EXPECT_EQ(m_dlg.EmbedThumbnail(1), 1);
}

TEST_F(MusicThumbnailTest, EmbedMissingThumbnailsVisitsOnlyEntriesWithoutOne) {
  WritePack({SolidPicture("SMI_1.qks", 1, 1, 0x7FFF), SolidPicture("SMI_2.qks", 1, 1, 0x7FFF)});
  fs::path without = WriteMusic("zoma1.qkn", {.id = 1, .hasThumbnail = 0});
  fs::path with = WriteMusic("zoma2.qkn", {.id = 2, .hasThumbnail = 0});
  const Bytes withBefore = ReadFile(with);
  m_dlg.m_musicCatalog = {{1, 1.0f, 0}, {2, 1.0f, 7}};  // any nonzero flag counts as present
  m_dlg.EmbedMissingThumbnails();
  EXPECT_EQ(ReadFile(without)[99], 1);
  EXPECT_EQ(ReadFile(with), withBefore);
  EXPECT_EQ(m_dlg.m_musicCatalog[0].hasThumbnail, 0) << "the catalogue is not updated";
}

}  // namespace

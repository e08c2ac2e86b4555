// The skin without a display: bitmaps drawn whole and frame by frame with a key colour on pixel
// surfaces, the shipped pictures, the skinned button's states and frame choice, and the pacing of
// the windows' repaints.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/Messages.h"
#include "app/ViewModel.h"
#include "res/Resources.h"
#include "skin/ButtonFrame.h"
#include "skin/RepaintPacer.h"
#include "skin/SkinBitmap.h"
#include "skin/SkinButton.h"

namespace {

// A bottom-up 24-bit BMP file of w x h whose pixel (x, y) is colour(x, y).
std::vector<uint8_t> MakeBmp(int w, int h, const std::function<COLORREF(int, int)>& colour) {
  const size_t row = (size_t(w) * 3 + 3) / 4 * 4;
  std::vector<uint8_t> file(54 + row * size_t(h), 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&file[at], &v, 4); };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, static_cast<uint32_t>(file.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(w));
  put32(22, static_cast<uint32_t>(h));
  file[26] = 1;
  file[28] = 24;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      COLORREF c = colour(x, y);
      uint8_t* p = &file[54 + row * size_t(h - 1 - y) + size_t(x) * 3];
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
    }
  return file;
}

// Pixel colours that tell the source column: red = column mod 256, green = column / 256 + 1.
COLORREF ColumnColour(int x, int) { return RGB(static_cast<uint8_t>(x % 256), static_cast<uint8_t>(x / 256 + 1), 7); }

CSkinBitmap Strip(int width, int height = 2, std::function<COLORREF(int, int)> colour = ColumnColour) {
  std::vector<uint8_t> bmp = MakeBmp(width, height, colour);
  CSkinBitmap bitmap;
  EXPECT_TRUE(bitmap.LoadBmp(bmp.data(), bmp.size()));
  return bitmap;
}

constexpr COLORREF kKey = RGB(0, 0, 255);
constexpr COLORREF kUnder = RGB(9, 9, 9);

}  // namespace

TEST(SkinBitmapTest, FramesAreQuartersAndTheColumnsLeftOverAreNeverDrawn) {
  for (int width : {308, 310}) {
    CSkinBitmap strip = Strip(width);
    EXPECT_EQ(strip.FrameWidth(), 77) << width;
    for (int frame = 0; frame < 4; ++frame) {
      CPixelSurface dc(100, 2, kUnder);
      strip.DrawFrameTransparent(dc, frame, 0, 0, kKey);
      for (int x = 0; x < 77; ++x) EXPECT_EQ(dc.At(x, 1), ColumnColour(frame * 77 + x, 1)) << width << " " << frame;
      EXPECT_EQ(dc.At(77, 0), kUnder);  // one frame wide, never more
    }
  }
  // Frame 3 of a 308-pixel strip is columns 231 to 307.
  CSkinBitmap strip = Strip(308);
  CPixelSurface dc(77, 2);
  strip.DrawFrameTransparent(dc, 3, 0, 0, kKey);
  EXPECT_EQ(dc.At(0, 0), ColumnColour(231, 0));
  EXPECT_EQ(dc.At(76, 0), ColumnColour(307, 0));
}

TEST(SkinBitmapTest, KeyColouredPixelsLeaveTheDestinationAndOthersCoverIt) {
  // Absent key: the frame is drawn opaque.
  CSkinBitmap plain = Strip(8, 2, [](int, int) { return RGB(1, 2, 3); });
  CPixelSurface dc(2, 2, kUnder);
  plain.DrawFrameTransparent(dc, 1, 0, 0, kKey);
  for (COLORREF c : dc.m_pixels) EXPECT_EQ(c, RGB(1, 2, 3));

  // Present key (a checkerboard): the destination shows through exactly there. Bits above the
  // colour in the key do not count.
  CSkinBitmap checks = Strip(8, 2, [](int x, int y) { return (x + y) % 2 ? kKey : RGB(200, 10, 10); });
  CPixelSurface under(6, 4, kUnder);
  under.At(2, 1) = RGB(50, 60, 70);
  checks.DrawFrameTransparent(under, 0, 1, 1, kKey | 0x01000000);
  EXPECT_EQ(under.At(1, 1), RGB(200, 10, 10));  // frame (0, 0)
  EXPECT_EQ(under.At(2, 1), RGB(50, 60, 70));   // frame (1, 0) is key: the old pixel stays
  EXPECT_EQ(under.At(2, 2), RGB(200, 10, 10));
  EXPECT_EQ(under.At(0, 0), kUnder);             // outside the frame
  EXPECT_EQ(under.At(3, 1), kUnder);
}

TEST(SkinBitmapTest, DrawPutsTheWholePictureOpaqueAndClipsAtTheEdges) {
  CSkinBitmap picture = Strip(5, 3, [](int x, int y) { return y == 1 ? kKey : ColumnColour(x, y); });
  CPixelSurface dc(4, 4, kUnder);
  picture.Draw(dc, -2, 2);
  EXPECT_EQ(dc.At(0, 2), ColumnColour(2, 0));
  EXPECT_EQ(dc.At(2, 2), ColumnColour(4, 0));
  EXPECT_EQ(dc.At(0, 3), kKey);  // no key colour in whole drawing
  EXPECT_EQ(dc.At(3, 2), kUnder);
  EXPECT_EQ(dc.At(0, 1), kUnder);
}

TEST(SkinBitmapTest, UnreadablePicturesLeaveAnEmptyHolderThatDrawsNothing) {
  std::vector<uint8_t> good = MakeBmp(4, 4, ColumnColour);
  auto loads = [](std::vector<uint8_t> bytes) {
    CSkinBitmap bitmap;
    bool ok = bitmap.LoadBmp(bytes.data(), bytes.size());
    EXPECT_EQ(ok, bitmap.Width() > 0);
    return ok;
  };
  EXPECT_TRUE(loads(good));
  EXPECT_FALSE(loads({}));
  EXPECT_FALSE(loads(std::vector<uint8_t>(good.begin(), good.end() - 1)));  // rows cut short
  std::vector<uint8_t> bad = good;
  bad[28] = 8;  // palette pictures are not skin pictures
  EXPECT_FALSE(loads(bad));
  bad = good;
  bad[18] = bad[19] = bad[20] = 0xFF;
  bad[21] = 0x7F;
  EXPECT_FALSE(loads(bad));
  bad = good;
  bad[10] = 0xF0;  // pixels said to start past the end
  EXPECT_FALSE(loads(bad));

  CSkinBitmap missing;
  missing.Load(999);
  CPixelSurface dc(2, 2, kUnder);
  missing.Draw(dc, 0, 0);
  missing.DrawFrameTransparent(dc, 0, 0, 0, kKey);
  for (COLORREF c : dc.m_pixels) EXPECT_EQ(c, kUnder);
}

TEST(SkinBitmapTest, TheShippedPicturesHaveTheirSizesAndTheStripsNoKeyColour) {
  CSkinBitmap background;
  background.Load(IDB_BACKGROUND);
  EXPECT_EQ(background.Width(), 440);
  EXPECT_EQ(background.Height(), 570);
  for (unsigned id : {IDB_START, IDB_CANCEL}) {
    CSkinBitmap strip;
    strip.Load(id | 0x10000);  // only the low 16 bits of an id count
    ASSERT_EQ(strip.Width(), 308) << id;
    EXPECT_EQ(strip.Height(), 23);
    for (int y = 0; y < strip.Height(); ++y)
      for (int x = 0; x < strip.Width(); ++x) ASSERT_NE(strip.Pixel(x, y), kKey) << id << " " << x << "," << y;
  }
  EXPECT_GT(FindResource(RT_CURSOR, IDC_HANDCURSOR).size, 0u);
  EXPECT_GT(FindResource(RT_ICON, IDR_MAINFRAME).size, 0u);
  EXPECT_EQ(LoadString(IDS_ABOUTBOX), "&About TarvoPatchClient...");
  EXPECT_EQ(LoadString(102), "");
}

namespace {

struct Buttons {
  Buttons() {
    start.Bind(&view, IDC_START, RECT{63, 522, 130, 546});
    cancel.Bind(&view, IDCANCEL, RECT{288, 522, 355, 547});
    start.LoadBitmaps(IDB_START, kKey);
    cancel.LoadBitmaps(IDB_CANCEL, kKey);
  }
  CViewModel view;
  CSkinButton start, cancel;
};

}  // namespace

TEST(SkinButtonTest, LoadBitmapsTakesOneFrameAtTheTemplatesCornerAndPublishesTheSkin) {
  Buttons b;
  b.start.SetToolTipText("开始游戏");
  b.start.SetButtonCursor(IDC_HANDCURSOR);
  CButtonSkin skin = b.view.GetButtonSkin(IDC_START);
  EXPECT_EQ(skin.rect.left, 63);
  EXPECT_EQ(skin.rect.top, 522);
  EXPECT_EQ(skin.rect.Width(), 77);
  EXPECT_EQ(skin.rect.Height(), 23);
  EXPECT_EQ(skin.toolTip, "开始游戏");
  EXPECT_EQ(skin.cursorId, IDC_HANDCURSOR);
  EXPECT_EQ(skin.key, kKey);
  EXPECT_EQ(skin.bitmapId, unsigned(IDB_START));
  ASSERT_TRUE(skin.strip);
  EXPECT_EQ(skin.strip->Width(), 308);
  EXPECT_EQ(b.view.GetButtonSkin(IDCANCEL).cursorId, 0);  // the default arrow over Cancel
}

TEST(SkinButtonTest, LockedWinsOverPressedAndPressedOverHover) {
  Buttons b;
  CSkinButton& start = b.start;
  start.DisableButton();
  EXPECT_EQ(start.CurrentFrame(), 0);
  // Hovered and pressed while locked: still the locked frame, and the press is dropped.
  EXPECT_TRUE(start.OnMouseMove(true));
  EXPECT_TRUE(start.OnMouseHover());
  EXPECT_FALSE(start.OnLButtonDown());
  EXPECT_FALSE(start.OnLButtonUp(true));
  EXPECT_FALSE(start.ActivateFromKeyboard());
  EXPECT_EQ(start.CurrentFrame(), 0);

  start.EnableButton();  // unlocked under the pointer: hover
  EXPECT_EQ(start.CurrentFrame(), 2);
  EXPECT_TRUE(start.ActivateFromKeyboard());
  EXPECT_TRUE(start.OnLButtonDown());
  EXPECT_EQ(start.CurrentFrame(), 3);
  // Held down, the press follows the pointer off and back on the button.
  start.OnMouseMove(false);
  EXPECT_EQ(start.CurrentFrame(), 2);
  start.OnMouseMove(true);
  EXPECT_EQ(start.CurrentFrame(), 3);
  EXPECT_TRUE(start.OnLButtonUp(true));  // a click
  EXPECT_EQ(start.CurrentFrame(), 2);

  // Released away from the button: no click.
  EXPECT_TRUE(start.OnLButtonDown());
  EXPECT_FALSE(start.OnLButtonUp(false));
  // Locked while held: the release clicks nothing.
  EXPECT_TRUE(start.OnLButtonDown());
  start.DisableButton();
  EXPECT_EQ(start.CurrentFrame(), 0);
  EXPECT_FALSE(start.OnLButtonUp(true));
}

TEST(SkinButtonTest, LeavingClearsTheHoverAndTheNextVisitTracksAgain) {
  Buttons b;
  CSkinButton& cancel = b.cancel;
  EXPECT_FALSE(cancel.IsLocked());
  cancel.DisableButton();  // Cancel is never locked
  EXPECT_EQ(cancel.CurrentFrame(), 1);
  EXPECT_FALSE(cancel.OnMouseHover());  // no hover without a tracking request
  EXPECT_TRUE(cancel.OnMouseMove(true));
  EXPECT_TRUE(cancel.IsTracking());
  EXPECT_FALSE(cancel.OnMouseMove(true));  // one request per visit
  EXPECT_TRUE(cancel.OnMouseHover());
  EXPECT_EQ(cancel.CurrentFrame(), 2);
  EXPECT_TRUE(cancel.OnMouseLeave());
  EXPECT_FALSE(cancel.IsTracking());
  EXPECT_EQ(cancel.CurrentFrame(), 1);
  EXPECT_TRUE(cancel.OnMouseMove(true));
  EXPECT_TRUE(cancel.OnMouseHover());
  EXPECT_EQ(cancel.CurrentFrame(), 2);
}

TEST(ButtonFrameTest, LockedWinsOverPressedAndPressedOverHover) {
  for (bool pressed : {false, true})
    for (bool hover : {false, true}) EXPECT_EQ(ChooseButtonFrame(true, pressed, hover), kFrameLocked);
  EXPECT_EQ(ChooseButtonFrame(false, true, true), kFramePressed);
  EXPECT_EQ(ChooseButtonFrame(false, true, false), kFramePressed);
  EXPECT_EQ(ChooseButtonFrame(false, false, true), kFrameHover);
  EXPECT_EQ(ChooseButtonFrame(false, false, false), kFrameNormal);
}

TEST(RepaintPacerTest, OneWakeUpPerRepaintAndAtMostOneRepaintEvery33Ms) {
  CRepaintPacer pacer;
  EXPECT_FALSE(pacer.Note(ViewPartsOf(4711)));  // an id no window shows wakes nothing
  EXPECT_TRUE(pacer.Note(ViewPartsOf(IDC_FILE_BYTES)));
  EXPECT_FALSE(pacer.Note(ViewPartsOf(IDC_TOTAL_PROGRESS)));  // one wake-up until the repaint
  EXPECT_EQ(pacer.Woken(1000), 0);                             // the first repaint is not held
  EXPECT_EQ(pacer.Take(1000), unsigned(kPartLabels | kPartBars));

  EXPECT_TRUE(pacer.Note(ViewPartsOf(IDC_START)));
  EXPECT_EQ(pacer.Woken(1010), CRepaintPacer::kIntervalMs - 10);  // too soon: wait for the rest
  // Changes while the window waits add their parts without waking it again.
  EXPECT_FALSE(pacer.Note(ViewPartsOf(CViewModel::kNoticeId)));
  EXPECT_EQ(pacer.Take(1043), unsigned(kPartStart | kPartSkin | kPartNotice));
  EXPECT_EQ(pacer.Take(1043), 0u);
  EXPECT_TRUE(pacer.Note(ViewPartsOf(0)));
  EXPECT_EQ(pacer.Woken(1076), 0);
  EXPECT_EQ(pacer.Take(1076), unsigned(kPartCaption));
  // A clock that went back does not hold the window.
  EXPECT_TRUE(pacer.Note(ViewPartsOf(IDCANCEL)));
  EXPECT_EQ(pacer.Woken(500), 0);
  EXPECT_EQ(pacer.Take(500), unsigned(kPartSkin));
}

TEST(RepaintPacerTest, NoChangeIsLostWhileManyThreadsNoteThem) {
  CRepaintPacer pacer;
  std::atomic<int> wakeUps{0};
  std::vector<std::thread> threads;
  const int ids[] = {IDC_STATUS, IDC_FILE_PROGRESS, IDC_START, CViewModel::kNoticeId};
  for (int id : ids)
    threads.emplace_back([&pacer, &wakeUps, id] {
      for (int i = 0; i < 1000; ++i) wakeUps += pacer.Note(ViewPartsOf(id)) ? 1 : 0;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wakeUps.load(), 1);
  EXPECT_EQ(pacer.Take(0), unsigned(kPartLabels | kPartBars | kPartStart | kPartSkin | kPartNotice));
}

#include "support/WindowPixels.h"

#include <algorithm>
#include <filesystem>

#include "app/DialogLayout.h"
#include "app/Messages.h"
#include "res/Resources.h"

uint32_t ToRgb(COLORREF c) { return (uint32_t(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

bool ShowsFrame(const XServer::Image& image, int id, int frame) {
  CSkinBitmap strip;
  strip.Load(id == IDC_START ? IDB_START : IDB_CANCEL);
  const RECT r = ControlRect(id);
  if (image.width < r.left + strip.FrameWidth() || image.height < r.top + strip.Height()) return false;
  for (int y = 0; y < strip.Height(); ++y)
    for (int x = 0; x < strip.FrameWidth(); ++x)
      if (image.At(r.left + x, r.top + y) != ToRgb(strip.Pixel(frame * strip.FrameWidth() + x, y))) return false;
  return true;
}

int PictureMismatches(const XServer::Image& image, int slack) {
  if (image.pixels.empty()) return kClientWidth * kClientHeight;
  CSkinBitmap background;
  background.Load(IDB_BACKGROUND);
  const int controls[] = {IDC_START, IDCANCEL, 1000, IDC_STATUS, IDC_FILE_BYTES, IDC_TOTAL_BYTES,
                          IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS};
  const int width = std::min(image.width, background.Width());
  const int height = std::min(image.height, background.Height());
  int mismatches = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      bool underControl = false;
      for (int id : controls) {
        RECT r = ControlRect(id);
        if (id == IDC_START || id == IDCANCEL) r.right = r.left + 77, r.bottom = r.top + 23;
        r.left -= slack, r.top -= slack, r.right += slack, r.bottom += slack;
        underControl |= r.Contains(x, y);
      }
      if (!underControl && image.At(x, y) != ToRgb(background.Pixel(x, y))) ++mismatches;
    }
  return mismatches;
}

int PictureMismatchesIn(const XServer::Image& image, const RECT& area) {
  CSkinBitmap background;
  background.Load(IDB_BACKGROUND);
  int mismatches = 0;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x)
      if (x >= image.width || y >= image.height || image.At(x, y) != ToRgb(background.Pixel(x, y))) ++mismatches;
  return mismatches;
}

void Shot(const XServer::Image& image, const std::string& name) {
  std::filesystem::create_directories(TARVO_SCREENSHOT_DIR);
  XServer::SavePng(image, std::string(TARVO_SCREENSHOT_DIR) + "/" + name + ".png");
}

bool WaitForFrame(const XServer& x, const XServer::Rect& window, int id, int frame, int ms) {
  return WaitUntil([&] { return ShowsFrame(x.Grab(window), id, frame); }, ms);
}

void PointAt(const XServer& x, const XServer::Rect& window, int id) {
  const RECT r = ControlRect(id);
  x.Xdotool("mousemove --sync " + std::to_string(window.x + r.left + 38) + " " + std::to_string(window.y + r.top + 11));
}

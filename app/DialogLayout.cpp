#include "app/DialogLayout.h"

#include "app/Messages.h"

namespace {

constexpr int kNotice = 1000;
constexpr ControlTemplate kControls[] = {
    {IDC_START, 42, 348, 45, 16},         {IDCANCEL, 192, 348, 45, 17},
    {kNotice, 19, 73, 255, 155},          {IDC_STATUS, 76, 261, 171, 8},
    {IDC_FILE_BYTES, 76, 275, 171, 8},    {IDC_FILE_PROGRESS, 19, 290, 259, 8},
    {IDC_TOTAL_BYTES, 76, 306, 171, 8},   {IDC_TOTAL_PROGRESS, 19, 321, 259, 8},
};

// Dialog units to pixels with the template font's base units (6 x 12): x * 6 / 4, y * 12 / 8.
int ToPixelsX(int units) { return units * 6 / 4; }
int ToPixelsY(int units) { return units * 12 / 8; }

}  // namespace

RECT ControlRect(int id) {
  for (const ControlTemplate& c : kControls) {
    if (c.id != id) continue;
    RECT r;
    r.left = ToPixelsX(c.x);
    r.top = ToPixelsY(c.y);
    // The corners are mapped, not the size: a 255-unit wide control from x 19 spans 28..411.
    r.right = ToPixelsX(c.x + c.cx);
    r.bottom = ToPixelsY(c.y + c.cy);
    return r;
  }
  return {};
}

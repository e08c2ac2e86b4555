// The main window's template (dialog 102): its controls' places in dialog units, and their pixel
// rectangles. The template's font has base units 6 x 12, so one dialog unit is 1.5 pixels both ways.
#pragma once

struct RECT {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

struct ControlTemplate {
  int id;
  int x, y, cx, cy;  // dialog units
};

// Client area of the window in pixels (the background picture's size).
constexpr int kClientWidth = 440;
constexpr int kClientHeight = 570;

// The control's rectangle in client pixels (its template place; a skinned button then takes the
// size of one frame). An unknown id gives an empty rectangle.
RECT ControlRect(int id);

// What the client's window should show where its skin is drawn, checked on an image read back from
// the X server (the Linux window, or the Windows one under Wine): a button's frame at its place and
// the background picture wherever no control sits; and the steps that the window tests share to
// look at it and to point at its controls.
#pragma once
#include <cstdint>
#include <string>

#include "app/DialogLayout.h"
#include "skin/SkinBitmap.h"
#include "support/XServer.h"

// A skin colour as XServer::Image holds it (0x00RRGGBB).
uint32_t ToRgb(COLORREF c);

// Whether button `id` (Start or Cancel) shows frame `frame` of its strip, pixel for pixel, in an
// image of the window's client area; false for an image too small to hold the button.
bool ShowsFrame(const XServer::Image& image, int id, int frame);

// The image's pixels that differ from the background picture outside every control. `slack` widens
// each control's rectangle by that many pixels, for dialog managers that round dialog units to
// pixels their own way. An empty image (nothing grabbed) counts every pixel as different.
int PictureMismatches(const XServer::Image& image, int slack = 0);

// The image's pixels inside `area` (client pixels) that differ from the background picture there.
int PictureMismatchesIn(const XServer::Image& image, const RECT& area);

// Writes the image as `name`.png to the build folder's screenshots/ (CI keeps them).
void Shot(const XServer::Image& image, const std::string& name);

// Waits up to `ms` for button `id` of the window at `window` on `x` to show frame `frame`.
bool WaitForFrame(const XServer& x, const XServer::Rect& window, int id, int frame, int ms);
// Moves the pointer to the middle of button `id` of the window at `window`.
void PointAt(const XServer& x, const XServer::Rect& window, int id);

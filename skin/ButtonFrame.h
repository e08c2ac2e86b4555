// Which frame of its four-frame strip a skinned button shows. Every front end asks this one rule, so
// the windows of both systems show the same frame in the same state.
#pragma once

enum ButtonFrame : int { kFrameLocked = 0, kFrameNormal = 1, kFrameHover = 2, kFramePressed = 3 };

// Locked wins over pressed, pressed over hover.
constexpr int ChooseButtonFrame(bool locked, bool pressed, bool hover) {
  if (locked) return kFrameLocked;
  if (pressed) return kFramePressed;
  return hover ? kFrameHover : kFrameNormal;
}

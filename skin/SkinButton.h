// The four-frame skinned button (frames: 0 locked, 1 normal, 2 hover, 3 pressed).
//
// Other subsystems only lock and unlock it (any thread; the lock lives in the view model). The
// window's set-up gives it its strip, tooltip and cursor, which it publishes in the view model for
// the front ends. The pointer state (hover tracking, press) is driven by the front end that draws
// it, on that front end's own thread only.
#pragma once
#include <string>

#include "app/DialogLayout.h"
#include "app/ViewModel.h"

class CSkinButton {
 public:
  // `templateRect` is the button's place in the window template, in client pixels.
  void Bind(CViewModel* view, int id, RECT templateRect);

  // Loads the strip and keeps the key colour; the button keeps its top-left corner and takes the
  // size of one frame.
  void LoadBitmaps(unsigned bitmapId, COLORREF key);
  void SetToolTipText(const std::string& text);
  void SetButtonCursor(int cursorId);
  void EnableButton() { SetLocked(false); }
  void DisableButton() { SetLocked(true); }
  bool IsLocked() const;
  const RECT& Rect() const { return m_skin.rect; }

  // ---- pointer state, on the drawing front end's thread ----
  // Each returns true when the frame to show may have changed (the front end repaints then).
  // A move over the button; `inside` tells whether the pointer is over it. Requests hover tracking
  // once per visit (m_bTracking); while the button is held, the press follows the pointer.
  bool OnMouseMove(bool inside);
  bool OnMouseHover();
  bool OnMouseLeave();
  // A left press: dropped while locked (returns false: no press, no click).
  bool OnLButtonDown();
  // The release; returns true for a click: pressed, released over the button, and not locked.
  bool OnLButtonUp(bool inside);
  // Keyboard activation (Space or Return): a locked button cannot be activated from the keyboard.
  bool ActivateFromKeyboard() const { return !IsLocked(); }
  bool IsTracking() const { return m_bTracking; }
  // Locked wins over pressed, pressed over hover.
  int CurrentFrame() const;

 private:
  void SetLocked(bool locked);
  void Publish();

  CViewModel* m_pView = nullptr;
  int m_nId = 0;
  CButtonSkin m_skin;
  bool m_bTracking = false;
  bool m_bHover = false;
  bool m_bCaptured = false;  // a press began on the button and the button is not released yet
  bool m_bPressed = false;   // captured and the pointer over it: drawn pressed
};

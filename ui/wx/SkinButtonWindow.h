// One skinned button as a child window: it draws the hub's button state over the background beneath
// it, feeds the pointer and keys to the button's state machine, and reports clicks.
#pragma once
#include <functional>
#include <memory>

#include <wx/window.h>

#include "app/ViewModel.h"
#include "skin/SkinButton.h"

class SkinButtonWindow : public wxWindow {
 public:
  // `button` is the hub's button (its pointer state is touched on this thread only); `clicked` runs
  // for a mouse click or a keyboard activation that the button accepts.
  SkinButtonWindow(wxWindow* parent, CSkinButton& button, const CButtonSkin& skin,
                   std::shared_ptr<const CSkinBitmap> background, std::function<void()> clicked);
  // Shows the frame the button's state asks for now (after a lock change).
  void UpdateFrame();

 private:
  void OnPaint(wxPaintEvent& event);
  void OnMouse(wxMouseEvent& event);
  void OnCaptureLost(wxMouseCaptureLostEvent& event);
  void OnKey(wxKeyEvent& event);
  bool PointerInside(const wxMouseEvent& event) const;
  void Changed(bool changed);

  CSkinButton& m_button;
  CButtonSkin m_skin;
  std::shared_ptr<const CSkinBitmap> m_background;
  std::function<void()> m_clicked;
  int m_nShownFrame = -1;
};

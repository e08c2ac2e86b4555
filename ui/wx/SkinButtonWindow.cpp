#include "ui/wx/SkinButtonWindow.h"

#include <wx/dcclient.h>
#include <wx/tooltip.h>

#include "res/Resources.h"
#include "ui/wx/WxPictures.h"

SkinButtonWindow::SkinButtonWindow(wxWindow* parent, CSkinButton& button, const CButtonSkin& skin,
                                   std::shared_ptr<const CSkinBitmap> background, std::function<void()> clicked)
    : wxWindow(parent, wxID_ANY, wxPoint(skin.rect.left, skin.rect.top), wxSize(skin.rect.Width(), skin.rect.Height()),
               wxWANTS_CHARS | wxBORDER_NONE),
      m_button(button),
      m_skin(skin),
      m_background(std::move(background)),
      m_clicked(std::move(clicked)) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetMinSize(GetSize());
  if (!m_skin.toolTip.empty()) SetToolTip(wxString::FromUTF8(m_skin.toolTip));
  if (m_skin.cursorId) SetCursor(LoadCursorResource(static_cast<unsigned>(m_skin.cursorId)));
  Bind(wxEVT_PAINT, &SkinButtonWindow::OnPaint, this);
  for (auto type : {wxEVT_MOTION, wxEVT_ENTER_WINDOW, wxEVT_LEAVE_WINDOW, wxEVT_LEFT_DOWN, wxEVT_LEFT_UP,
                    wxEVT_LEFT_DCLICK})
    Bind(type, &SkinButtonWindow::OnMouse, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &SkinButtonWindow::OnCaptureLost, this);
  Bind(wxEVT_KEY_DOWN, &SkinButtonWindow::OnKey, this);
}

void SkinButtonWindow::UpdateFrame() {
  if (m_button.CurrentFrame() != m_nShownFrame) Refresh(false);
}

void SkinButtonWindow::Changed(bool changed) {
  if (changed) UpdateFrame();
}

void SkinButtonWindow::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  const int w = m_skin.rect.Width(), h = m_skin.rect.Height();
  // The picture beneath the button first, so that key-coloured pixels show the window behind.
  CPixelSurface surface(w, h);
  if (m_background) m_background->Draw(surface, -m_skin.rect.left, -m_skin.rect.top);
  m_nShownFrame = m_button.CurrentFrame();
  if (m_skin.strip) m_skin.strip->DrawFrameTransparent(surface, m_nShownFrame, 0, 0, m_skin.key);
  dc.DrawBitmap(ToBitmap(surface), 0, 0);
}

bool SkinButtonWindow::PointerInside(const wxMouseEvent& event) const {
  wxPoint p = event.GetPosition();
  return p.x >= 0 && p.y >= 0 && p.x < m_skin.rect.Width() && p.y < m_skin.rect.Height();
}

void SkinButtonWindow::OnMouse(wxMouseEvent& event) {
  const wxEventType type = event.GetEventType();
  const bool inside = PointerInside(event);
  if (type == wxEVT_LEAVE_WINDOW) {
    Changed(m_button.OnMouseLeave());
  } else if (type == wxEVT_LEFT_DOWN || type == wxEVT_LEFT_DCLICK) {
    // A locked button drops the press: no capture, no pressed frame, no click.
    if (m_button.OnLButtonDown()) {
      if (!HasCapture()) CaptureMouse();
      SetFocus();
      Changed(true);
    }
  } else if (type == wxEVT_LEFT_UP) {
    if (HasCapture()) ReleaseMouse();
    bool clicked = m_button.OnLButtonUp(inside);
    Changed(true);
    if (clicked) m_clicked();
  } else {
    // The hover frame follows the first move over the button (the request's 1 ms is not waited).
    bool changed = m_button.OnMouseMove(inside);
    if (inside && m_button.IsTracking()) changed |= m_button.OnMouseHover();
    if (!inside && !HasCapture()) changed |= m_button.OnMouseLeave();
    Changed(changed);
  }
  event.Skip();
}

void SkinButtonWindow::OnCaptureLost(wxMouseCaptureLostEvent&) { Changed(m_button.OnLButtonUp(false) || true); }

void SkinButtonWindow::OnKey(wxKeyEvent& event) {
  const int key = event.GetKeyCode();
  // Space only, as a button of the system's: Enter belongs to the window (it ends the client).
  if (key == WXK_SPACE) {
    // Blocked while locked: a locked Start must not start the game from the keyboard either.
    if (m_button.ActivateFromKeyboard()) m_clicked();
    return;
  }
  event.Skip();
}

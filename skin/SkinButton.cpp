#include "skin/SkinButton.h"

#include <memory>

#include "app/Messages.h"
#include "skin/ButtonFrame.h"

void CSkinButton::Bind(CViewModel* view, int id, RECT templateRect) {
  m_pView = view;
  m_nId = id;
  m_skin.rect = templateRect;
}

void CSkinButton::LoadBitmaps(unsigned bitmapId, COLORREF key) {
  auto strip = std::make_shared<CSkinBitmap>();
  strip->Load(bitmapId);
  m_skin.rect.right = m_skin.rect.left + strip->FrameWidth();
  m_skin.rect.bottom = m_skin.rect.top + strip->Height();
  m_skin.strip = std::move(strip);
  m_skin.bitmapId = bitmapId;
  m_skin.key = key;
  Publish();
}

void CSkinButton::SetToolTipText(const std::string& text) {
  m_skin.toolTip = text;
  Publish();
}

void CSkinButton::SetButtonCursor(int cursorId) {
  m_skin.cursorId = cursorId;
  Publish();
}

void CSkinButton::Publish() {
  if (m_pView) m_pView->SetButtonSkin(m_nId, m_skin);
}

void CSkinButton::SetLocked(bool locked) {
  // Only the Start button can be locked; Cancel is always usable.
  if (m_pView && m_nId == IDC_START) m_pView->SetStartEnabled(!locked);
}

bool CSkinButton::IsLocked() const {
  if (m_nId != IDC_START) return false;
  return m_pView ? !m_pView->IsStartEnabled() : true;
}

bool CSkinButton::OnMouseMove(bool inside) {
  bool changed = false;
  if (m_bCaptured && m_bPressed != inside) {
    m_bPressed = inside;
    changed = true;
  }
  if (inside && !m_bTracking) {
    m_bTracking = true;
    changed = true;
  }
  return changed;
}

bool CSkinButton::OnMouseHover() {
  if (!m_bTracking) return false;
  bool changed = !m_bHover;
  m_bHover = true;
  return changed;
}

bool CSkinButton::OnMouseLeave() {
  bool changed = m_bHover || m_bTracking;
  m_bTracking = false;
  m_bHover = false;
  if (m_bCaptured && m_bPressed) {
    m_bPressed = false;
    changed = true;
  }
  return changed;
}

bool CSkinButton::OnLButtonDown() {
  if (IsLocked()) return false;
  m_bCaptured = true;
  m_bPressed = true;
  return true;
}

bool CSkinButton::OnLButtonUp(bool inside) {
  if (!m_bCaptured) return false;
  m_bCaptured = false;
  m_bPressed = false;
  return inside && !IsLocked();
}

int CSkinButton::CurrentFrame() const { return ChooseButtonFrame(IsLocked(), m_bPressed, m_bHover); }

#include "app/ViewModel.h"

#include <algorithm>

#include "app/Messages.h"

CViewModel::CViewModel() {
  m_bars[IDC_FILE_PROGRESS] = Bar{};
  m_bars[IDC_TOTAL_PROGRESS] = Bar{};
}

void CViewModel::Changed(int id) {
  Listener listener;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_changes;
    listener = m_listener;
  }
  if (listener) listener(id);
}

void CViewModel::SetLabel(int id, const std::string& text) {
  Listener listener;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_labels[id] = text;
    ++m_changes;
    listener = m_listener;
  }
  if (listener) listener(id);
}

std::string CViewModel::GetLabel(int id) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_labels.find(id);
  return it == m_labels.end() ? std::string() : it->second;
}

void CViewModel::SetBarPos(int id, int pos) {
  Listener listener;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    Bar& bar = m_bars[id];
    bar.pos = std::clamp(pos, bar.low, std::max(bar.low, bar.high));
    ++m_changes;
    listener = m_listener;
  }
  if (listener) listener(id);
}

int CViewModel::GetBarPos(int id) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_bars.find(id);
  return it == m_bars.end() ? 0 : it->second.pos;
}

void CViewModel::SetBarRange(int id, int low, int high) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    Bar& bar = m_bars[id];
    bar.low = low;
    bar.high = high;
    bar.pos = std::clamp(bar.pos, low, std::max(low, high));
  }
  Changed(id);
}

void CViewModel::SetStartEnabled(bool enabled) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_startEnabled = enabled;
  }
  Changed(IDC_START);
}

bool CViewModel::IsStartEnabled() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_startEnabled;
}

void CViewModel::SetWindowText(int id, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_windowTexts[id] = text;
  }
  Changed(id);
}

std::string CViewModel::GetWindowText(int id) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windowTexts.find(id);
  return it == m_windowTexts.end() ? std::string() : it->second;
}

uint64_t CViewModel::ChangeCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_changes;
}

void CViewModel::SetListener(Listener listener) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_listener = std::move(listener);
}

void CViewModel::SetButtonSkin(int id, const CButtonSkin& skin) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_buttonSkins[id] = skin;
  }
  Changed(id);
}

CButtonSkin CViewModel::GetButtonSkin(int id) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_buttonSkins.find(id);
  return it == m_buttonSkins.end() ? CButtonSkin() : it->second;
}

void CViewModel::SetBackground(std::shared_ptr<const CSkinBitmap> picture) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_background = std::move(picture);
  }
  Changed(kBackgroundId);
}

std::shared_ptr<const CSkinBitmap> CViewModel::GetBackground() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_background;
}

#include "skin/RepaintPacer.h"

#include "app/Messages.h"
#include "app/ViewModel.h"

unsigned ViewPartsOf(int controlId) {
  switch (controlId) {
    case IDC_STATUS:
    case IDC_FILE_BYTES:
    case IDC_TOTAL_BYTES:
      return kPartLabels;
    case IDC_FILE_PROGRESS:
    case IDC_TOTAL_PROGRESS:
      return kPartBars;
    case IDC_START:
      return kPartStart | kPartSkin;
    case IDCANCEL:
    case CViewModel::kBackgroundId:
      return kPartSkin;
    case CViewModel::kNoticeId:
      return kPartNotice;
    case 0:
      return kPartCaption;
    default:
      return 0;
  }
}

bool CRepaintPacer::Note(unsigned parts) {
  if (!parts) return false;
  m_changed.fetch_or(parts);
  return !m_bWakePending.exchange(true);
}

int CRepaintPacer::Woken(uint64_t nowMs) const {
  if (!m_bApplied || nowMs < m_lastApplyMs) return 0;
  const uint64_t waited = nowMs - m_lastApplyMs;
  return waited >= uint64_t(kIntervalMs) ? 0 : kIntervalMs - static_cast<int>(waited);
}

unsigned CRepaintPacer::Take(uint64_t nowMs) {
  m_lastApplyMs = nowMs;
  m_bApplied = true;
  // Cleared before the parts are taken, so that no change falls between the two.
  m_bWakePending = false;
  return m_changed.exchange(0);
}

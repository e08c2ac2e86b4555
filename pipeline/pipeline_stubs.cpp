// Placeholders until the patch pipeline lands: nothing is ever due, so Start unlocks at once.
#include "app/PatchClientDlg.h"

unsigned VersionCheckThread(void* pParam) {
  static_cast<CPatchClientDlg*>(pParam)->m_btnStart.EnableButton();
  return 1;
}
unsigned PatchThread(void*) { return 0; }
LRESULT CPatchClientDlg::OnPatchList(WPARAM, LPARAM) { return 0; }
void CPatchClientDlg::OnStartGame(int) { ReportStop(14); }
void RelaunchLauncher() {}

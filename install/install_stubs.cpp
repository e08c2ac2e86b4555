// Placeholders until the installation subsystem lands.
#include "app/PatchClientDlg.h"

int CPatchClientDlg::MoveMusicFromTemp(const char*, int) { return 1; }
void CPatchClientDlg::ClearPatchList() { m_pPatchList.reset(); }

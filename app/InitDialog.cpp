// The window's set-up, in the order the user sees it: controls, texts, notice page, then the server
// list and the first connection.
#include <cstdlib>

#include "app/DesktopScan.h"
#include "app/PatchClientDlg.h"
#include "res/Resources.h"

namespace {
const char* const kDefaultNoticeUrl = "http://www.tarvo.com/gameweb/notice.php";
}

std::string NoticePageUrl() {
  const char* url = std::getenv("TARVO_NOTICE_URL");
  return url && *url ? url : kDefaultNoticeUrl;
}

bool CPatchClientDlg::OnInitDialog() {
  m_hMusicToolWnd = 0;
  for (const platform::DesktopWindowInfo& window : platform::ListDesktopWindows()) {
    FindNoticeWindowsProc(window, *this);
  }
  m_gameServers.clear();
  // Blue 255 is the buttons' transparent colour; the shipped strips do not use it.
  const COLORREF key = RGB(0, 0, 255);
  m_btnStart.LoadBitmaps(IDB_START, key);
  m_btnStart.SetToolTipText("开始游戏");
  m_btnStart.SetButtonCursor(IDC_HANDCURSOR);
  m_btnCancel.LoadBitmaps(IDB_CANCEL, key);
  m_btnCancel.SetToolTipText("取消");
  m_bmpBackground.Load(IDB_BACKGROUND);
  m_view.SetBackground(std::make_shared<const CSkinBitmap>(m_bmpBackground));
  m_btnStart.DisableButton();
  for (int bar : {IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS}) {
    m_view.SetBarRange(bar, 0, 1000);
    m_view.SetBarPos(bar, 0);
  }
  m_view.SetWindowText(IDC_START, "开始");
  m_view.SetWindowText(IDCANCEL, "取消");
  m_strRegKey = "SOFTWARE\\Brix\\Tarvo";
  m_view.SetNoticeUrl(NoticePageUrl());
  if (!ReadServerList()) return false;
  Connect();
  return true;
}

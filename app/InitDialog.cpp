// The window's set-up, in the order the user sees it: controls, texts, notice page, then the server
// list and the first connection.
#include <cstdlib>

#include "app/DesktopScan.h"
#include "app/PatchClientDlg.h"

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

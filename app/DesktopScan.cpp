#include "app/DesktopScan.h"

#include "app/PatchClientDlg.h"

namespace {
const char* const kBrowserClass = "IEFrame";
const char* const kGameSiteTitle = "신나는";
const char* const kMusicToolTitle = "Tarvo - Download Music";

bool Holds(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }
}  // namespace

DesktopWindowRole RoleOfDesktopWindow(const platform::DesktopWindowInfo& window) {
  if (Holds(window.instanceName, kBrowserClass) || Holds(window.className, kBrowserClass)) {
    return Holds(window.title, kGameSiteTitle) ? DesktopWindowRole::kGameBrowser : DesktopWindowRole::kOther;
  }
  return Holds(window.title, kMusicToolTitle) ? DesktopWindowRole::kMusicTool : DesktopWindowRole::kOther;
}

bool FindNoticeWindowsProc(const platform::DesktopWindowInfo& window, CPatchClientDlg& dlg) {
  switch (RoleOfDesktopWindow(window)) {
    case DesktopWindowRole::kGameBrowser:
      platform::MinimiseDesktopWindow(window.window);
      break;
    case DesktopWindowRole::kMusicTool:
      dlg.m_hMusicToolWnd = window.window;
      break;
    case DesktopWindowRole::kOther:
      break;
  }
  return true;
}

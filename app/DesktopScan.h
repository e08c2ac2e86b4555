// The start-up scan of other programs' windows: browser frames that show the game's site are
// minimised, and the music downloader's window is remembered so that a data patch can ask it to close.
#pragma once
#include "platform/desktop_windows.h"

class CPatchClientDlg;

enum class DesktopWindowRole { kOther, kGameBrowser, kMusicTool };

// A browser frame whose title holds "신나는", or a window (not a browser frame) whose title holds
// "Tarvo - Download Music". The texts are compared byte for byte, so case matters.
DesktopWindowRole RoleOfDesktopWindow(const platform::DesktopWindowInfo& window);

// One window of the scan: minimises a game browser, makes a music downloader the dialog's
// m_hMusicToolWnd (so the last one met wins). Returns true, so the scan goes on to every window.
bool FindNoticeWindowsProc(const platform::DesktopWindowInfo& window, CPatchClientDlg& dlg);

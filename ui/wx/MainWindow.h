// The client's window: the background picture, the status labels and bars drawn in the system's
// colours over it, the two skinned buttons, and the notice page. It only draws the hub's view model
// and turns the player's actions into the commands it is given.
#pragma once
#include <functional>
#include <memory>

#include <wx/bitmap.h>
#include <wx/frame.h>
#include <wx/timer.h>

#include "skin/RepaintPacer.h"

class CPatchClientDlg;
class CSkinBitmap;
class SkinButtonWindow;
class wxWebView;

class MainWindow : public wxFrame {
 public:
  struct Commands {
    std::function<void()> start;   // Start was clicked or activated while unlocked
    std::function<void()> cancel;  // Cancel, Escape, Enter or the window's close button
  };
  MainWindow(CPatchClientDlg& dlg, Commands commands);

  // Shows the whole view model as it is now. The front end calls it once the window listens:
  // whatever changed while the window was built is then either read here or reported after.
  void ShowWholeView();
  // The view model changed (any thread): the window repaints at most about 30 times a second.
  void ViewChanged(int controlId);

 private:
  void ScheduleApply();
  void ApplyChanges(unsigned parts);
  void PaintCanvas();
  void ShowAbout();
  void OnContextMenu(wxContextMenuEvent& event);
  void OnCharHook(wxKeyEvent& event);
  void OnClose(wxCloseEvent& event);
  void CreateButtons();
  void CreateNotice(const std::string& url);

  CPatchClientDlg& m_dlg;
  Commands m_commands;
  wxWindow* m_canvas = nullptr;
  SkinButtonWindow* m_start = nullptr;
  SkinButtonWindow* m_cancel = nullptr;
  wxWebView* m_notice = nullptr;
  bool m_bNoticeStarted = false;
  std::shared_ptr<const CSkinBitmap> m_background;
  wxBitmap m_backgroundBitmap;
  CRepaintPacer m_pacer;
  wxTimer m_throttle;
};

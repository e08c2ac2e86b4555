// The windowed front end (wxWidgets): the toolkit's event loop runs on the main thread, the
// dialog's loop on its own thread. Nothing of the toolkit is called off the main thread: view-model
// changes and message boxes reach it through the toolkit's queue.
#pragma once
#include <atomic>
#include <mutex>
#include <string>

#include "app/FrontEnd.h"

class MainWindow;

class WxFrontEnd : public IFrontEnd {
 public:
  // Any thread; blocks the caller until the player dismisses the box.
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  // On the dialog's thread, before its loop runs / after it has ended.
  void Attach(CPatchClientDlg& dlg) override;
  void Detach() override;
  // Presses Cancel from any thread (a signal); nothing happens while no dialog runs.
  void PressCancel();

 private:
  int ShowBox(const std::string& text, const std::string& caption, unsigned flags);

  CPatchClientDlg* m_pDlg = nullptr;
  std::atomic<CPatchClientDlg*> m_pRunning{nullptr};
  MainWindow* m_pWindow = nullptr;  // main thread only
  // The window's current listener target; the view model's listener may run on any thread.
  std::mutex m_windowMutex;
  MainWindow* m_pListenedWindow = nullptr;
};

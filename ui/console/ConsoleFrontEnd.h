// The console front end: message boxes on standard error, progress on standard output, Start read
// from standard input once it unlocks (a line presses Start, end of input presses Cancel), and the
// system's cancel requests (SIGINT/SIGTERM, Ctrl+C/Ctrl+Break) press Cancel.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/FrontEnd.h"

class ConsoleFrontEnd : public IFrontEnd {
 public:
  ConsoleFrontEnd();
  ~ConsoleFrontEnd() override;

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void Attach(CPatchClientDlg& dlg) override;
  void Detach() override;

 private:
  struct Inbox;
  void Run();
  void Render(bool final);
  void Wake();

  CPatchClientDlg* m_pDlg = nullptr;
  std::thread m_thread;
  std::mutex m_outputMutex;
  // Shared with the reader of standard input, which stays blocked in its read after the front end
  // is gone (the process ends soon after).
  std::shared_ptr<Inbox> m_inbox;
  std::atomic<bool> m_stop{false};
  bool m_isTerminal = false;
  bool m_liveLineOpen = false;
  std::string m_lastLine;
  std::string m_lastStatus;
};

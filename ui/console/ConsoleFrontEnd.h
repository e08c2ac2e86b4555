// The console front end: message boxes on standard error, progress on standard output, Start read
// from standard input once it unlocks (a line presses Start, end of input presses Cancel), and
// SIGINT/SIGTERM press Cancel.
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "app/FrontEnd.h"

class ConsoleFrontEnd : public IFrontEnd {
 public:
  ConsoleFrontEnd();
  ~ConsoleFrontEnd() override;

  // Blocks SIGINT and SIGTERM in the calling thread; call from main before any thread starts so
  // that every thread inherits the mask and the signals arrive only through this front end.
  static void BlockCancelSignals();

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void Attach(CPatchClientDlg& dlg) override;
  void Detach() override;

 private:
  void Run();
  void Render(bool final);
  void Wake();

  CPatchClientDlg* m_pDlg = nullptr;
  std::thread m_thread;
  std::mutex m_outputMutex;
  int m_wakePipe[2] = {-1, -1};
  int m_signalFd = -1;
  std::atomic<bool> m_stop{false};
  bool m_isTerminal = false;
  bool m_liveLineOpen = false;
  std::string m_lastLine;
  std::string m_lastStatus;
};

// Runs a dialog's message loop on a thread of its own, so that a test can call the hub's
// operations from its own thread as a worker thread would, and see what reached the user.
#pragma once
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/PatchClientDlg.h"

class RecordingFrontEnd : public IFrontEnd {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  std::vector<std::string> Messages() const;

 private:
  mutable std::mutex m_mutex;
  std::vector<std::string> m_messages;
};

class DialogHarness {
 public:
  DialogHarness();
  ~DialogHarness();  // ends the loop if it still runs and waits for worker threads

  CPatchClientDlg& Dlg() { return *m_dlg; }
  std::vector<std::string> Messages() const { return m_frontEnd.Messages(); }
  // Stop codes the dialog has handled so far, in order.
  std::vector<unsigned> StopCodes();
  bool LoopEnded() const { return m_dlg->Loop().HasEnded(); }
  // Waits (up to `ms`) for the loop to end after a quit request.
  bool WaitForLoopEnd(int ms);

 private:
  RecordingFrontEnd m_frontEnd;
  std::unique_ptr<CPatchClientDlg> m_dlg;
  std::thread m_loopThread;
};

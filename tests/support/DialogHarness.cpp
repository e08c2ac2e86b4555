#include "support/DialogHarness.h"

#include <chrono>

int RecordingFrontEnd::MessageBox(const std::string& text, const std::string&, unsigned) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_messages.push_back(text);
  return IDOK;
}

std::vector<std::string> RecordingFrontEnd::Messages() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_messages;
}

DialogHarness::DialogHarness() : m_dlg(std::make_unique<CPatchClientDlg>(&m_frontEnd)) {
  // The bars as the window's initialisation leaves them.
  for (int bar : {IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS}) m_dlg->View().SetBarRange(bar, 0, 1000);
  m_loopThread = std::thread([this] { m_dlg->Loop().Run(); });
  // The loop must have taken its thread before a test sends to it.
  m_dlg->Loop().Invoke([] {});
}

DialogHarness::~DialogHarness() {
  m_dlg->PostQuitMessage();
  m_loopThread.join();
  m_dlg->WaitForWorkers();
}

std::vector<unsigned> DialogHarness::StopCodes() {
  if (LoopEnded()) return m_dlg->StopHistory();
  std::vector<unsigned> codes;
  m_dlg->Loop().Invoke([&] { codes = m_dlg->StopHistory(); });
  if (LoopEnded()) return m_dlg->StopHistory();
  return codes;
}

bool DialogHarness::WaitForLoopEnd(int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!LoopEnded()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

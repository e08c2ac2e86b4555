#include "app/PatchClientApp.h"

#include "app/PatchClientDlg.h"
#include "platform/process.h"
#include "platform/single_instance.h"

namespace {
const char* const kAppTitle = "TarvoPatchClient";
}

CPatchClientApp::CPatchClientApp(IFrontEnd& frontEnd, std::string commandLine)
    : m_frontEnd(frontEnd), m_strCommandLine(std::move(commandLine)) {}

bool CPatchClientApp::InitInstance() {
  switch (platform::AcquireSingleInstance("TarvoPatchClient")) {
    case platform::LockResult::kTaken:
      break;
    case platform::LockResult::kHeldElsewhere:
      m_frontEnd.MessageBox("Tarvo is already running!", kAppTitle, MB_OK);
      return false;
    case platform::LockResult::kNoPlace:
      // Unlocked, a second client could patch the same files at the same time.
      m_frontEnd.MessageBox("Cannot create the lock that keeps Tarvo from running twice.", kAppTitle, MB_OK | MB_ICONSTOP);
      return false;
  }
  // A peer that goes away must end a send with an error, not the process.
  platform::IgnoreBrokenPipes();
  size_t first = m_strCommandLine.find_first_not_of(' ');
  if (first == std::string::npos) {
    m_frontEnd.MessageBox("Cannot execute", kAppTitle, MB_OK | MB_ICONINFORMATION);
    return false;
  }
  // The dialog outlives this function on purpose: worker threads may still hold it while the
  // process ends, and a Cancel must not wait for a download to finish.
  auto* dlg = new CPatchClientDlg(&m_frontEnd);
  dlg->SetCommandLine(m_strCommandLine.substr(first));
  dlg->SetCancelBackstop([] { platform::ExitProcess(0); });
  dlg->DoModal();
  return false;
}

std::string CommandLineFromArgs(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line.push_back(' ');
    line += argv[i];
  }
  return line;
}

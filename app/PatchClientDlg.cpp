#include "app/PatchClientDlg.h"

#include <thread>

#include "platform/clock.h"
#include "zonet/ZoNet.h"

namespace {
constexpr uint32_t WM_INITDIALOG = 0x0110;
const char* const kWindowCaption = "Tarvo补丁更新程序";
constexpr uint32_t kCancelGraceMs = 500;  // how long the normal end may take after a Cancel
// Message boxes carry the application's name, as the framework's message boxes do.
const char* const kAppTitle = "TarvoPatchClient";
}  // namespace

CPatchClientDlg::CPatchClientDlg(IFrontEnd* frontEnd)
    : m_pPatchList(std::make_unique<PatchFileList>()),
      m_pFrontEnd(frontEnd),
      m_loop([this](uint32_t message, WPARAM wParam, LPARAM lParam) { return WindowProc(message, wParam, lParam); }) {
  // Set here rather than only at initialisation so that every operation can reach the registry.
  m_strRegKey = "SOFTWARE\\Brix\\Tarvo";
  m_btnStart.Bind(&m_view, IDC_START, ControlRect(IDC_START));
  m_btnCancel.Bind(&m_view, IDCANCEL, ControlRect(IDCANCEL));
  m_view.SetWindowText(0, kWindowCaption);
  m_view.SetWindowText(IDC_START, "Start");
  m_view.SetWindowText(IDCANCEL, "Cancel");
}

CPatchClientDlg::~CPatchClientDlg() { WaitForWorkers(); }

int CPatchClientDlg::DoModal() {
  if (m_pFrontEnd) m_pFrontEnd->Attach(*this);
  m_loop.PostMessage(WM_INITDIALOG, 0, 0);
  m_loop.Run();
  OnDestroy();
  if (m_pFrontEnd) m_pFrontEnd->Detach();
  return IDOK;
}

void CPatchClientDlg::OnDestroy() {
  // A worker still walking the list (Cancel during a patch) keeps it; the process ends next anyway.
  if (!WorkersRunning()) m_pPatchList.reset();
  ZoNet_ShutDown();
}

void CPatchClientDlg::OnCancel() { RequestCancel(); }

void CPatchClientDlg::RequestCancel() {
  if (m_bCancelled.exchange(true)) return;
  ZoNet_Abort();  // a connect or a send in progress gives up now
  m_loop.QuitNow();
  if (m_cancelBackstop) {
    // A handler blocked where no cancel reaches it (a host lookup, a message box, a transfer of
    // another subsystem) cannot hold the client: its work is safe to cut, as every file and the
    // registry are written under a temporary name and renamed.
    std::thread([end = m_cancelBackstop] {
      platform::SleepMs(kCancelGraceMs);
      end();
    }).detach();
  }
}

LRESULT CPatchClientDlg::WindowProc(uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog() ? 1 : 0;
    case WM_NET_STATE:
      return OnNetState(wParam, lParam);
    case WM_NET_RECV:
      return OnNetRecv(wParam, lParam);
    case WM_PATCH_STOP:
      return OnPatchStop(wParam, lParam);
    case WM_PATCH_LIST:
      return OnPatchList(wParam, lParam);
    case WM_COMMAND: {
      int id = static_cast<int>(wParam & 0xFFFF);
      if (id >= 1014 && id <= 1016) {
        // A locked button cannot be pressed, and only the first press counts: every way Start
        // ends, ends the run, and a double click must not start the game twice.
        if (m_view.IsStartEnabled() && !m_bStartTaken) {
          m_bStartTaken = true;
          OnStartGame(id);
        }
      } else if (id == IDCANCEL) {
        OnCancel();
      }
      return 0;
    }
    default:
      return 0;
  }
}

LRESULT CPatchClientDlg::SendMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  return m_loop.SendMessage(message, wParam, lParam);
}

void CPatchClientDlg::PostMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  m_loop.PostMessage(message, wParam, lParam);
}

void CPatchClientDlg::PostQuitMessage() { m_loop.PostQuitMessage(); }

int CPatchClientDlg::MessageBox(const std::string& text, unsigned flags) {
  // Work cut short by a Cancel fails on its way out; the user asked for the end, not for its reasons.
  if (!m_pFrontEnd || CancelRequested()) return IDOK;
  return m_pFrontEnd->MessageBox(text, kAppTitle, flags);
}

void CPatchClientDlg::SetDlgItemText(int id, const std::string& text) { m_view.SetLabel(id, text); }

void CPatchClientDlg::SetProgressPos(int id, int pos) { m_view.SetBarPos(id, pos); }

void CPatchClientDlg::BeginThread(unsigned (*proc)(void*)) {
  {
    std::lock_guard<std::mutex> lock(m_workerMutex);
    ++m_nWorkers;
  }
  std::thread([this, proc] {
    proc(this);
    std::lock_guard<std::mutex> lock(m_workerMutex);
    --m_nWorkers;
    m_workerDone.notify_all();  // under the lock: the dialog may go away as soon as it is released
  }).detach();
}

bool CPatchClientDlg::WorkersRunning() {
  std::lock_guard<std::mutex> lock(m_workerMutex);
  return m_nWorkers > 0;
}

void CPatchClientDlg::WaitForWorkers() {
  std::unique_lock<std::mutex> lock(m_workerMutex);
  m_workerDone.wait(lock, [this] { return m_nWorkers == 0; });
}

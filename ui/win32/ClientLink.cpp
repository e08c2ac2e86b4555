#include "ui/win32/ClientLink.h"

#include <atomic>
#include <mutex>

#include "app/PatchClientDlg.h"
#include "skin/RepaintPacer.h"

namespace win32ui {
namespace {

std::atomic<CPatchClientDlg*> g_pRunning{nullptr};

class DialogView : public ClientView {
 public:
  explicit DialogView(CPatchClientDlg& dlg) : m_dlg(dlg) {}
  std::string Caption() const override { return m_dlg.View().GetWindowText(0); }
  std::string Label(int id) const override { return m_dlg.View().GetLabel(id); }
  int BarPos(int id) const override { return m_dlg.View().GetBarPos(id); }
  bool StartLocked() const override { return !m_dlg.View().IsStartEnabled(); }
  std::string NoticeUrl() const override { return m_dlg.View().GetNoticeUrl(); }
  ButtonLook Button(int id) const override {
    const CButtonSkin skin = m_dlg.View().GetButtonSkin(id);
    ButtonLook look;
    look.ready = skin.strip && skin.bitmapId != 0;
    look.bitmapId = skin.bitmapId;
    look.key = skin.key;
    look.toolTip = skin.toolTip;
    look.cursorId = skin.cursorId;
    look.text = m_dlg.View().GetWindowText(id);
    return look;
  }
  bool BackgroundReady() const override { return m_dlg.View().GetBackground() != nullptr; }
  void PressStart() override {
    // The dialog checks the lock again when it handles the command.
    if (m_dlg.View().IsStartEnabled()) m_dlg.PostMessage(WM_COMMAND, IDC_START, 0);
  }
  void PressCancel() override { m_dlg.RequestCancel(); }

 private:
  CPatchClientDlg& m_dlg;
};

class WindowFrontEnd : public IFrontEnd {
 public:
  explicit WindowFrontEnd(WindowSide& window) : m_window(window) {}

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    m_window.ShowMessageBox(text, caption, flags);
    return IDOK;
  }
  void Attach(CPatchClientDlg& dlg) override {
    m_pView = std::make_unique<DialogView>(dlg);
    dlg.View().SetListener([this](int id) { m_window.Changed(ViewPartsOf(id)); });
    m_window.Open(*m_pView);
    g_pRunning = &dlg;
    m_pDlg = &dlg;
  }
  void Detach() override {
    if (!m_pDlg) return;
    g_pRunning = nullptr;
    m_pDlg->View().SetListener(nullptr);
    m_window.Close();
    m_pDlg = nullptr;
  }

 private:
  WindowSide& m_window;
  CPatchClientDlg* m_pDlg = nullptr;
  // Outlives the window's last read: the window stops reading at Close, and this front end lives
  // until the client has ended.
  std::unique_ptr<DialogView> m_pView;
};

}  // namespace

void RunClientWithWindow(WindowSide& window, const std::function<void(IFrontEnd&)>& runClient) {
  WindowFrontEnd frontEnd(window);
  runClient(frontEnd);
}

void CancelRunningClient() {
  if (CPatchClientDlg* dlg = g_pRunning.load()) dlg->RequestCancel();
}

}  // namespace win32ui

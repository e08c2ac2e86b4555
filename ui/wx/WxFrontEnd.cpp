#include "ui/wx/WxFrontEnd.h"

#include <future>
#include <thread>

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include "app/PatchClientDlg.h"
#include "platform/console.h"
#include "platform/process.h"
#include "ui/module/WindowEntry.h"
#include "ui/wx/MainWindow.h"

namespace {

class TarvoApp : public wxApp {
 public:
  // The client's arguments are the launcher's, not the toolkit's: nothing is parsed here.
  bool OnInit() override { return true; }
};

// The window must open on a bare X server as root: without a session or accessibility bus, without
// a compositor or GPU, and without the web page's sandbox, which refuses to run as root. These
// settings are the client's own: the launcher, the game and the music downloader that the client
// starts get the player's environment as it was.
void PrepareToolkitEnvironment() {
  using platform::SetVariableForClientOnly;
  SetVariableForClientOnly("NO_AT_BRIDGE", "1");
  SetVariableForClientOnly("GTK_A11Y", "none");
  if (wxGetEnv("DISPLAY", nullptr)) SetVariableForClientOnly("GDK_BACKEND", "x11");
  SetVariableForClientOnly("WEBKIT_DISABLE_COMPOSITING_MODE", "1");
  SetVariableForClientOnly("WEBKIT_DISABLE_DMABUF_RENDERER", "1");
  // The window draws nothing through OpenGL, and the web page composites in software (above); left
  // to itself, GDK loads the GL driver at start-up to choose visuals, before the session can begin.
  SetVariableForClientOnly("GDK_GL", "disable");
  if (wxGetUserId() == "root") SetVariableForClientOnly("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1");
  // Without a session bus, GLib would fork the whole client to look for dbus-launch along the PATH,
  // twice. Such a child holds copies of the patch's open files until it gives up, and with them
  // their share locks, so the patch's next open of a file it has just written can be refused.
  SetVariableForClientOnly("DBUS_SESSION_BUS_ADDRESS", "disabled:");
}

long IconStyle(unsigned flags) {
  switch (flags & 0xF0) {
    case MB_ICONSTOP:
      return wxICON_ERROR;
    case MB_ICONEXCLAMATION:
      return wxICON_EXCLAMATION;
    case MB_ICONINFORMATION:
      return wxICON_INFORMATION;
    default:
      return wxICON_NONE;
  }
}

}  // namespace

int WxFrontEnd::ShowBox(const std::string& text, const std::string& caption, unsigned flags) {
  wxMessageDialog box(m_pWindow, wxString::FromUTF8(text), wxString::FromUTF8(caption), wxOK | IconStyle(flags));
  box.ShowModal();
  return IDOK;
}

int WxFrontEnd::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  if (wxThread::IsMain()) return ShowBox(text, caption, flags);
  std::promise<int> answer;
  std::future<int> result = answer.get_future();
  wxTheApp->CallAfter([&] { answer.set_value(ShowBox(text, caption, flags)); });
  return result.get();
}

void WxFrontEnd::PressCancel() {
  if (CPatchClientDlg* dlg = m_pRunning.load()) dlg->RequestCancel();
}

void WxFrontEnd::Attach(CPatchClientDlg& dlg) {
  m_pDlg = &dlg;
  m_pRunning = &dlg;
  dlg.View().SetListener([this](int id) {
    std::lock_guard<std::mutex> lock(m_windowMutex);
    if (m_pListenedWindow) m_pListenedWindow->ViewChanged(id);
  });
  wxTheApp->CallAfter([this] {
    CPatchClientDlg& d = *m_pDlg;
    MainWindow::Commands commands;
    // Start is offered only while unlocked; the dialog checks the lock again when it handles it.
    commands.start = [&d] {
      if (d.View().IsStartEnabled()) d.PostMessage(WM_COMMAND, IDC_START, 0);
    };
    commands.cancel = [&d] { d.RequestCancel(); };
    m_pWindow = new MainWindow(d, std::move(commands));
    {
      std::lock_guard<std::mutex> lock(m_windowMutex);
      m_pListenedWindow = m_pWindow;
    }
    // Only now that it listens: the dialog sets itself up while the window is being built, and a
    // change read before the window listened would be lost for the whole run (the notice address
    // is set only once).
    m_pWindow->ShowWholeView();
    m_pWindow->Show();
    m_pWindow->Raise();
  });
}

void WxFrontEnd::Detach() {
  if (!m_pDlg) return;
  m_pRunning = nullptr;
  m_pDlg->View().SetListener(nullptr);
  {
    std::lock_guard<std::mutex> lock(m_windowMutex);
    m_pListenedWindow = nullptr;
  }
  wxTheApp->CallAfter([this] {
    if (m_pWindow) m_pWindow->Destroy();
    m_pWindow = nullptr;
  });
}

extern "C" bool TarvoRunClientInWindow(int, char** argv, const std::function<void(IFrontEnd&)>& runClient,
                                       std::string& whyNot) {
  PrepareToolkitEnvironment();
  static char* toolkitArgv[] = {argv[0], nullptr};
  int toolkitArgc = 1;
  wxApp::SetInstance(new TarvoApp);
  {
    wxLogNull quiet;  // the reason is reported once, below
    if (!wxEntryStart(toolkitArgc, toolkitArgv)) {
      wxString display;
      wxGetEnv("DISPLAY", &display);
      whyNot = "the display \"" + std::string(display.utf8_str()) + "\" cannot be opened";
      return false;
    }
  }
  if (!wxTheApp || !wxTheApp->CallOnInit()) {
    whyNot = "the toolkit did not start";
    return false;
  }
  wxTheApp->SetExitOnFrameDelete(false);
  static WxFrontEnd frontEnd;
  platform::SetCancelHandler([] { frontEnd.PressCancel(); });
  std::thread client([&] {
    runClient(frontEnd);
    wxTheApp->CallAfter([] { wxTheApp->ExitMainLoop(); });
  });
  wxTheApp->OnRun();
  client.join();
  return true;
}

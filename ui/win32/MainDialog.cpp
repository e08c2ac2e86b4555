#include "ui/win32/MainDialog.h"

#include <commctrl.h>

#include "platform/wide_win32.h"
#include "ui/win32/resource.h"

namespace win32ui {
namespace {

// Private messages of the window, posted or sent by the client's threads.
constexpr UINT kMsgOpen = WM_APP + 1;         // to the window's thread: make the dialog
constexpr UINT kMsgViewChanged = WM_APP + 2;  // the view model changed; read it
constexpr UINT kMsgShowBox = WM_APP + 3;      // sent: show the MessageBoxRequest in lParam
constexpr UINT kMsgClose = WM_APP + 4;        // sent: the client has ended, the window goes
constexpr UINT_PTR kRepaintTimer = 1;

const int kLabels[] = {IDC_STATUS, IDC_FILE_BYTES, IDC_TOTAL_BYTES};
const int kBars[] = {IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS};
constexpr int kBarRange = 1000;

struct MessageBoxRequest {
  std::wstring text;
  std::wstring caption;
  UINT flags;
};

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

uint64_t NowMs() { return GetTickCount64(); }

void SetText(HWND window, const std::string& utf8) {
  const std::wstring wanted = platform::WideFromUtf8(utf8);
  wchar_t shown[512] = {};
  GetWindowTextW(window, shown, static_cast<int>(std::size(shown)));
  // Labels change for every block of a download: only a changed text repaints.
  if (wanted != shown) SetWindowTextW(window, wanted.c_str());
}

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(hwnd, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

void CentreOnScreen(HWND hwnd) {
  RECT rect, work;
  GetWindowRect(hwnd, &rect);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + ((work.right - work.left) - (rect.right - rect.left)) / 2;
  const int y = work.top + ((work.bottom - work.top) - (rect.bottom - rect.top)) / 2;
  SetWindowPos(hwnd, nullptr, x > work.left ? x : work.left, y > work.top ? y : work.top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

// ---- the client's threads ----

void MainDialog::Open(ClientView& view) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pView = &view;
  }
  PostThreadMessageW(m_uiThread, kMsgOpen, 0, 0);
}

HWND MainDialog::CurrentWindow() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_hWnd;
}

void MainDialog::Changed(unsigned parts) {
  // Before the dialog exists the parts only pile up; its set-up reads everything.
  if (!m_pacer.Note(parts)) return;
  if (HWND hwnd = CurrentWindow()) PostMessageW(hwnd, kMsgViewChanged, 0, 0);
}

void MainDialog::ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  MessageBoxRequest request{platform::WideFromUtf8(text), platform::WideFromUtf8(caption),
                            MB_OK | (flags & MB_ICONMASK)};
  if (HWND hwnd = CurrentWindow()) {
    SendMessageW(hwnd, kMsgShowBox, 0, reinterpret_cast<LPARAM>(&request));
    return;
  }
  // No window (before it opens, or after it has gone): the box stands on its own.
  MessageBoxW(nullptr, request.text.c_str(), request.caption.c_str(), request.flags | MB_SETFOREGROUND);
}

void MainDialog::Close() {
  HWND hwnd;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bClosed = true;
    hwnd = m_hWnd;
  }
  // Sent, not posted: when this returns, the window reads the client no more.
  if (hwnd) SendMessageW(hwnd, kMsgClose, 0, 0);
}

// ---- the window's thread ----

void MainDialog::RunModalLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.hwnd == nullptr && msg.message == kMsgOpen) {
      DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_TARVOPATCHCLIENT_DIALOG), nullptr, DialogProc,
                      reinterpret_cast<LPARAM>(this));
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

INT_PTR CALLBACK MainDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    auto* self = reinterpret_cast<MainDialog*>(lParam);
    {
      std::lock_guard<std::mutex> lock(self->m_mutex);
      if (self->m_bClosed) {
        // The client ended before its window could open.
        EndDialog(hwnd, IDCANCEL);
        return TRUE;
      }
      self->m_hWnd = hwnd;
    }
    self->OnInitDialog();
    return TRUE;
  }
  auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  return self && self->m_hWnd == hwnd ? self->Handle(message, wParam, lParam) : FALSE;
}

void MainDialog::OnInitDialog() {
  HWND hwnd = m_hWnd;
  m_start.Attach(GetDlgItem(hwnd, IDC_START));
  m_cancel.Attach(GetDlgItem(hwnd, IDCANCEL));
  wchar_t about[128] = {};
  if (LoadStringW(Instance(), IDS_ABOUTBOX, about, static_cast<int>(std::size(about))) > 0) {
    if (HMENU menu = GetSystemMenu(hwnd, FALSE)) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }
  m_hIcon = LoadIconW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  for (int bar : kBars) {
    SendDlgItemMessageW(hwnd, bar, PBM_SETRANGE, 0, MAKELPARAM(0, kBarRange));
    SendDlgItemMessageW(hwnd, bar, PBM_SETPOS, 0, 0);
  }
  CentreOnScreen(hwnd);
  // Whatever changed before the window existed, and everything else, is read now.
  ApplyParts(m_pacer.Take(NowMs()) | kPartAll);
}

INT_PTR MainDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = m_hWnd;
  switch (message) {
    case WM_ERASEBKGND:
      if (!OnEraseBackground(reinterpret_cast<HDC>(wParam))) return FALSE;
      SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_PAINT:
      return OnPaintMinimised() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->CtlID == IDC_START) m_start.DrawItem(*item);
      else if (item->CtlID == IDCANCEL) m_cancel.DrawItem(*item);
      else return FALSE;
      return TRUE;
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return FALSE;
      DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_ABOUTBOX), hwnd, AboutProc, 0);
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_TIMER:
      if (wParam != kRepaintTimer) return FALSE;
      KillTimer(hwnd, kRepaintTimer);
      m_bTimerSet = false;
      ApplyParts(m_pacer.Take(NowMs()));
      return TRUE;
    case kMsgViewChanged:
      OnViewChanged();
      return TRUE;
    case kMsgShowBox: {
      const auto* request = reinterpret_cast<const MessageBoxRequest*>(lParam);
      // A box asked for while the dialog is still being set up would otherwise appear first and
      // end up beneath it where no window manager keeps owned windows above their owner.
      ShowWindow(hwnd, SW_SHOW);
      UpdateWindow(hwnd);
      MessageBoxW(hwnd, request->text.c_str(), request->caption.c_str(), request->flags);
      return TRUE;
    }
    case kMsgClose:
      OnClose();
      return TRUE;
    case WM_DESTROY:
      m_notice.Close();
      return FALSE;
    default:
      return FALSE;
  }
}

void MainDialog::OnViewChanged() {
  const int delay = m_pacer.Woken(NowMs());
  if (delay == 0) {
    ApplyParts(m_pacer.Take(NowMs()));
  } else if (!m_bTimerSet) {
    m_bTimerSet = SetTimer(m_hWnd, kRepaintTimer, static_cast<UINT>(delay), nullptr) != 0;
  }
}

void MainDialog::ApplyParts(unsigned parts) {
  if (!m_pView) return;
  HWND hwnd = m_hWnd;
  ClientView& view = *m_pView;
  if (parts & kPartCaption) {
    const std::string caption = view.Caption();
    if (!caption.empty()) SetText(hwnd, caption);
  }
  if (parts & kPartSkin) ApplySkin();
  if (parts & kPartStart) {
    if (view.StartLocked()) m_start.DisableButton();
    else m_start.EnableButton();
  }
  if (parts & kPartLabels)
    for (int id : kLabels) SetText(GetDlgItem(hwnd, id), view.Label(id));
  if (parts & kPartBars)
    for (int id : kBars) SendDlgItemMessageW(hwnd, id, PBM_SETPOS, static_cast<WPARAM>(view.BarPos(id)), 0);
  if ((parts & kPartNotice) && !m_notice.Started()) m_notice.Navigate(GetDlgItem(hwnd, IDC_NOTICE), view.NoticeUrl());
}

void MainDialog::ApplySkin() {
  ClientView& view = *m_pView;
  if (!m_background.Loaded() && view.BackgroundReady()) {
    m_background.Load(IDB_BACKGROUND);
    InvalidateRect(m_hWnd, nullptr, TRUE);
  }
  struct {
    SkinButtonCtl& button;
    int id;
  } buttons[] = {{m_start, IDC_START}, {m_cancel, IDCANCEL}};
  for (auto& b : buttons) {
    const ButtonLook look = view.Button(b.id);
    if (!look.text.empty()) SetText(b.button.Window(), look.text);
    if (!look.ready || b.button.Loaded()) continue;
    b.button.LoadBitmaps(look.bitmapId, look.key);
    b.button.SetToolTipText(look.toolTip);
    if (look.cursorId) b.button.SetButtonCursor(LoadCursorW(Instance(), MAKEINTRESOURCEW(look.cursorId)));
  }
}

bool MainDialog::OnEraseBackground(HDC dc) {
  if (!m_background.Loaded()) return false;
  m_background.Draw(dc, 0, 0);
  return true;
}

bool MainDialog::OnPaintMinimised() {
  HWND hwnd = m_hWnd;
  if (!IsIconic(hwnd)) return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(hwnd, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, m_hIcon);
  EndPaint(hwnd, &paint);
  return true;
}

void MainDialog::OnCommand(int id) {
  if (!m_pView) return;
  switch (id) {
    case IDC_START:
      m_pView->PressStart();
      break;
    case IDCANCEL:  // the Cancel button, Escape and the close box
    case IDOK:      // Enter where no control takes it ends the client too
      m_pView->PressCancel();
      break;
    default:
      break;
  }
}

void MainDialog::OnClose() {
  // The browser goes first, while the window that holds it still exists.
  m_notice.Close();
  KillTimer(m_hWnd, kRepaintTimer);
  m_bTimerSet = false;
  m_pView = nullptr;
  HWND hwnd = m_hWnd;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hWnd = nullptr;
  }
  EndDialog(hwnd, IDCANCEL);
}

}  // namespace win32ui

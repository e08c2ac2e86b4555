#include "ui/wx/MainWindow.h"

#include <wx/dcclient.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/time.h>

#include "app/DialogLayout.h"
#include "app/PatchClientDlg.h"
#include "res/Resources.h"
#include "skin/RepaintPacer.h"
#include "ui/wx/NoticeView.h"
#include "ui/wx/SkinButtonWindow.h"
#include "ui/wx/WxPictures.h"

namespace {

constexpr int kAboutCommand = 0x0010;
const int kLabels[] = {IDC_STATUS, IDC_FILE_BYTES, IDC_TOTAL_BYTES};
const int kBars[] = {IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS};

uint64_t NowMs() { return static_cast<uint64_t>(wxGetLocalTimeMillis().GetValue()); }

wxRect ToWx(const RECT& r) { return wxRect(r.left, r.top, r.Width(), r.Height()); }

}  // namespace

MainWindow::MainWindow(CPatchClientDlg& dlg, Commands commands)
    : wxFrame(nullptr, wxID_ANY, wxString::FromUTF8(dlg.View().GetWindowText(0)), wxDefaultPosition,
              wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxCLIP_CHILDREN),
      m_dlg(dlg),
      m_commands(std::move(commands)),
      m_throttle(this) {
  SetIcons(LoadIconResource(IDR_MAINFRAME));
  // The canvas carries the client area's exact size, so the window maps at full size with or
  // without a window manager.
  m_canvas = new wxWindow(this, wxID_ANY, wxDefaultPosition, wxSize(kClientWidth, kClientHeight),
                          wxBORDER_NONE | wxCLIP_CHILDREN);
  m_canvas->SetBackgroundStyle(wxBG_STYLE_PAINT);
  m_canvas->SetMinSize(wxSize(kClientWidth, kClientHeight));
  m_canvas->SetMaxSize(wxSize(kClientWidth, kClientHeight));
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(m_canvas, 0, wxFIXED_MINSIZE);
  SetSizerAndFit(sizer);
  SetClientSize(kClientWidth, kClientHeight);
  SetMinClientSize(wxSize(kClientWidth, kClientHeight));
  SetMaxClientSize(wxSize(kClientWidth, kClientHeight));

  m_canvas->Bind(wxEVT_PAINT, [this](wxPaintEvent&) { PaintCanvas(); });
  m_canvas->Bind(wxEVT_CONTEXT_MENU, &MainWindow::OnContextMenu, this);
  Bind(wxEVT_CONTEXT_MENU, &MainWindow::OnContextMenu, this);
  Bind(wxEVT_CHAR_HOOK, &MainWindow::OnCharHook, this);
  Bind(wxEVT_CLOSE_WINDOW, &MainWindow::OnClose, this);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { ShowAbout(); }, kAboutCommand);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { ApplyChanges(m_pacer.Take(NowMs())); });

  Centre(wxBOTH);
}

void MainWindow::ShowWholeView() { ApplyChanges(kPartAll); }

void MainWindow::ViewChanged(int controlId) {
  // The worker never waits for the window: it marks what changed, and only the first change after
  // a repaint queues a call to the window's thread.
  if (m_pacer.Note(ViewPartsOf(controlId))) CallAfter([this] { ScheduleApply(); });
}

void MainWindow::ScheduleApply() {
  const int delay = m_pacer.Woken(NowMs());
  if (delay == 0) {
    ApplyChanges(m_pacer.Take(NowMs()));
  } else if (!m_throttle.IsRunning()) {
    m_throttle.StartOnce(delay);
  }
}

void MainWindow::ApplyChanges(unsigned changed) {
  CViewModel& view = m_dlg.View();
  if (changed & kPartCaption) SetTitle(wxString::FromUTF8(view.GetWindowText(0)));
  if (changed & kPartSkin) {
    auto background = view.GetBackground();
    if (background != m_background) {
      m_background = background;
      m_backgroundBitmap = wxBitmap();
      if (m_background) {
        CPixelSurface surface(m_background->Width(), m_background->Height());
        m_background->Draw(surface, 0, 0);
        m_backgroundBitmap = ToBitmap(surface);
      }
      m_canvas->Refresh(false);
    }
    CreateButtons();
  }
  if (changed & kPartLabels)
    for (int id : kLabels) m_canvas->RefreshRect(ToWx(ControlRect(id)), false);
  if (changed & kPartBars)
    for (int id : kBars) m_canvas->RefreshRect(ToWx(ControlRect(id)), false);
  if (changed & kPartStart) {
    if (m_start) m_start->UpdateFrame();
  }
  if (changed & kPartNotice) CreateNotice(view.GetNoticeUrl());
}

void MainWindow::CreateButtons() {
  // The buttons appear once the window's set-up has given them their strips and the picture
  // beneath them.
  if (m_start || !m_background) return;
  CViewModel& view = m_dlg.View();
  CButtonSkin start = view.GetButtonSkin(IDC_START), cancel = view.GetButtonSkin(IDCANCEL);
  if (!start.strip || !cancel.strip) return;
  m_start = new SkinButtonWindow(m_canvas, m_dlg.m_btnStart, start, m_background, m_commands.start);
  m_cancel = new SkinButtonWindow(m_canvas, m_dlg.m_btnCancel, cancel, m_background, m_commands.cancel);
  m_start->SetFocus();
}

void MainWindow::CreateNotice(const std::string& url) {
  // One navigation for the whole run: the page is never reloaded, and a page that does not load
  // leaves everything else as it is.
  if (m_bNoticeStarted || url.empty()) return;
  m_bNoticeStarted = true;
  m_notice = CreateNoticeView(m_canvas, ToWx(ControlRect(CViewModel::kNoticeId)), url);
}

void MainWindow::PaintCanvas() {
  wxPaintDC dc(m_canvas);
  if (m_backgroundBitmap.IsOk()) {
    dc.DrawBitmap(m_backgroundBitmap, 0, 0);
  } else {
    dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
    dc.Clear();
  }
  CViewModel& view = m_dlg.View();
  // Labels: the system's face colour behind the text and its text colour; numbers to the right.
  wxFont font = m_canvas->GetFont();
  font.SetPixelSize(wxSize(0, 11));
  dc.SetFont(font);
  dc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT));
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
  for (int id : kLabels) {
    const wxRect rect = ToWx(ControlRect(id));
    dc.DrawRectangle(rect);
    wxDCClipper clip(dc, rect);
    const int align = (id == IDC_STATUS ? wxALIGN_LEFT : wxALIGN_RIGHT) | wxALIGN_CENTRE_VERTICAL;
    dc.DrawLabel(wxString::FromUTF8(view.GetLabel(id)), rect, align);
  }
  // Bars: a sunken track in the face colour, filled smoothly in the highlight colour.
  for (int id : kBars) {
    const wxRect rect = ToWx(ControlRect(id));
    dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW)));
    dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
    dc.DrawRectangle(rect);
    const int pos = view.GetBarPos(id);
    const int inner = rect.width - 2;
    const int filled = static_cast<int>(static_cast<long long>(inner) * pos / 1000);
    if (filled > 0) {
      dc.SetPen(*wxTRANSPARENT_PEN);
      dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)));
      dc.DrawRectangle(rect.x + 1, rect.y + 1, filled, rect.height - 2);
    }
  }
}

void MainWindow::OnContextMenu(wxContextMenuEvent&) {
  const std::string about = LoadString(IDS_ABOUTBOX);
  if (about.empty()) return;
  wxMenu menu;
  menu.Append(kAboutCommand, wxString::FromUTF8(about));
  PopupMenu(&menu);
}

void MainWindow::ShowAbout() {
  wxMessageDialog box(this,
                      "TarvoPatchClient\nVersion 1.0\n\nCopyright (C) 2026 the Tarvo patch client developers",
                      "About TarvoPatchClient", wxOK | wxICON_INFORMATION);
  box.ShowModal();
}

void MainWindow::OnCharHook(wxKeyEvent& event) {
  switch (event.GetKeyCode()) {
    case WXK_F1:
      ShowAbout();
      return;
    case WXK_ESCAPE:
    // Enter ends the client as Cancel does, as in the Windows window, whose buttons never take it:
    // the focused Start must not start the game with it.
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
      m_commands.cancel();
      return;
    default:
      event.Skip();
  }
}

void MainWindow::OnClose(wxCloseEvent& event) {
  // The window goes when the client ends; closing it asks for that, as Cancel does.
  if (event.CanVeto()) {
    event.Veto();
    m_commands.cancel();
    return;
  }
  Destroy();
}

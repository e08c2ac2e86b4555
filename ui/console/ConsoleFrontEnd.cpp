#include "ui/console/ConsoleFrontEnd.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <utility>

#include "app/PatchClientDlg.h"
#include "platform/console.h"

namespace {

constexpr int kRepaintMs = 100;  // at most about ten repaints a second

std::string Percent(int thousandths) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%3d.%d%%", thousandths / 10, thousandths % 10);
  return buf;
}

}  // namespace

// What the other threads tell the front end's own thread.
struct ConsoleFrontEnd::Inbox {
  struct Events {
    bool woken = false;
    bool cancelAsked = false;
    bool lineRead = false;
    bool inputEnded = false;
    bool Any() const { return woken || cancelAsked || lineRead || inputEnded; }
  };

  void Post(bool Events::*event) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.*event = true;
    m_changed.notify_one();
  }

  // What was posted since the last call, waiting up to `ms` for something to be.
  Events Take(int ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_pending.Any(); });
    return std::exchange(m_pending, Events{});
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  Events m_pending;
};

ConsoleFrontEnd::ConsoleFrontEnd() : m_inbox(std::make_shared<Inbox>()) {
  m_isTerminal = platform::StandardOutputIsTerminal();
}

ConsoleFrontEnd::~ConsoleFrontEnd() { Detach(); }

int ConsoleFrontEnd::MessageBox(const std::string& text, const std::string&, unsigned) {
  std::lock_guard<std::mutex> lock(m_outputMutex);
  if (m_liveLineOpen) {
    std::fputc('\n', stdout);
    std::fflush(stdout);
    m_liveLineOpen = false;
  }
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  return IDOK;
}

void ConsoleFrontEnd::Attach(CPatchClientDlg& dlg) {
  m_pDlg = &dlg;
  platform::SetCancelHandler([inbox = m_inbox] { inbox->Post(&Inbox::Events::cancelAsked); });
  dlg.View().SetListener([this](int id) {
    if (id == IDC_START || id == IDC_STATUS) Wake();
  });
  m_stop = false;
  m_thread = std::thread([this] { Run(); });
}

void ConsoleFrontEnd::Detach() {
  if (!m_thread.joinable()) return;
  m_pDlg->View().SetListener(nullptr);
  platform::SetCancelHandler(nullptr);
  m_stop = true;
  Wake();
  m_thread.join();
  Render(true);
}

void ConsoleFrontEnd::Wake() { m_inbox->Post(&Inbox::Events::woken); }

void ConsoleFrontEnd::Render(bool final) {
  CViewModel& view = m_pDlg->View();
  const std::string status = view.GetLabel(IDC_STATUS);
  const std::string fileBytes = view.GetLabel(IDC_FILE_BYTES);
  const std::string totalBytes = view.GetLabel(IDC_TOTAL_BYTES);
  std::string line;
  if (!status.empty() || !fileBytes.empty()) {
    line = status + "  file " + Percent(view.GetBarPos(IDC_FILE_PROGRESS)) + " (" +
           (fileBytes.empty() ? "0" : fileBytes) + " bytes)  total " + Percent(view.GetBarPos(IDC_TOTAL_PROGRESS)) +
           " (" + (totalBytes.empty() ? "0" : totalBytes) + " bytes)";
  }
  std::lock_guard<std::mutex> lock(m_outputMutex);
  if (line.empty() || line == m_lastLine) {
    if (final && m_liveLineOpen) {
      std::fputc('\n', stdout);
      m_liveLineOpen = false;
    }
    std::fflush(stdout);
    return;
  }
  if (m_isTerminal) {
    std::fprintf(stdout, "\r\033[K%s", line.c_str());
    m_liveLineOpen = !final;
    if (final) std::fputc('\n', stdout);
  } else if (final || status != m_lastStatus || line != m_lastLine) {
    std::fprintf(stdout, "%s\n", line.c_str());
  }
  std::fflush(stdout);
  m_lastLine = line;
  m_lastStatus = status;
}

void ConsoleFrontEnd::Run() {
  bool readingStart = false;
  while (!m_stop) {
    if (!readingStart && m_pDlg->View().IsStartEnabled()) {
      readingStart = true;
      Render(false);
      {
        std::lock_guard<std::mutex> lock(m_outputMutex);
        if (m_liveLineOpen) std::fputc('\n', stdout);
        m_liveLineOpen = false;
        std::fprintf(stdout, "Ready. Press Enter to start the game (end of input cancels).\n");
        std::fflush(stdout);
      }
      // A blocking read on a thread of its own: the one way to wait for standard input that works
      // alike for a terminal, a pipe and a file on every system. It is never joined.
      std::thread([inbox = m_inbox] {
        int c;
        while ((c = std::getchar()) != EOF && c != '\n') {
        }
        inbox->Post(c == '\n' ? &Inbox::Events::lineRead : &Inbox::Events::inputEnded);
      }).detach();
    }
    const Inbox::Events events = m_inbox->Take(kRepaintMs);
    if (events.cancelAsked || events.inputEnded) m_pDlg->RequestCancel();
    if (events.lineRead) m_pDlg->PostMessage(WM_COMMAND, IDC_START, 0);
    Render(false);
  }
}

#include "ui/console/ConsoleFrontEnd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>

#include "app/PatchClientDlg.h"

namespace {

constexpr int kRepaintMs = 100;  // at most about ten repaints a second

std::string Percent(int thousandths) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%3d.%d%%", thousandths / 10, thousandths % 10);
  return buf;
}

}  // namespace

ConsoleFrontEnd::ConsoleFrontEnd() { m_isTerminal = isatty(STDOUT_FILENO) == 1; }

ConsoleFrontEnd::~ConsoleFrontEnd() { Detach(); }

void ConsoleFrontEnd::BlockCancelSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

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
  if (pipe2(m_wakePipe, O_CLOEXEC) != 0) m_wakePipe[0] = m_wakePipe[1] = -1;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  m_signalFd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  dlg.View().SetListener([this](int id) {
    if (id == IDC_START || id == IDC_STATUS) Wake();
  });
  m_stop = false;
  m_thread = std::thread([this] { Run(); });
}

void ConsoleFrontEnd::Detach() {
  if (!m_thread.joinable()) return;
  m_pDlg->View().SetListener(nullptr);
  m_stop = true;
  Wake();
  m_thread.join();
  Render(true);
  for (int& fd : m_wakePipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  if (m_signalFd >= 0) close(m_signalFd);
  m_signalFd = -1;
}

void ConsoleFrontEnd::Wake() {
  if (m_wakePipe[1] >= 0) {
    char c = 1;
    ssize_t n = write(m_wakePipe[1], &c, 1);
    (void)n;  // a full pipe already holds a wake-up
  }
}

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
  bool readingStart = false, startAnswered = false;
  std::string input;
  while (!m_stop) {
    if (!readingStart && !startAnswered && m_pDlg->View().IsStartEnabled()) {
      readingStart = true;
      Render(false);
      std::lock_guard<std::mutex> lock(m_outputMutex);
      if (m_liveLineOpen) std::fputc('\n', stdout);
      m_liveLineOpen = false;
      std::fprintf(stdout, "Ready. Press Enter to start the game (end of input cancels).\n");
      std::fflush(stdout);
    }
    pollfd fds[3] = {{m_wakePipe[0], POLLIN, 0}, {m_signalFd, POLLIN, 0}, {readingStart ? STDIN_FILENO : -1, POLLIN, 0}};
    int n = poll(fds, 3, kRepaintMs);
    if (n > 0 && (fds[0].revents & POLLIN)) {
      char buf[64];
      while (read(m_wakePipe[0], buf, sizeof buf) == static_cast<ssize_t>(sizeof buf)) {
      }
    }
    if (n > 0 && (fds[1].revents & POLLIN)) {
      signalfd_siginfo info;
      while (read(m_signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      }
      m_pDlg->RequestCancel();
    }
    if (n > 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
      char buf[256];
      ssize_t got = read(STDIN_FILENO, buf, sizeof buf);
      if (got <= 0) {
        readingStart = false;
        startAnswered = true;
        m_pDlg->RequestCancel();
      } else {
        input.append(buf, static_cast<size_t>(got));
        if (input.find('\n') != std::string::npos) {
          readingStart = false;
          startAnswered = true;
          m_pDlg->PostMessage(WM_COMMAND, IDC_START, 0);
        }
      }
    }
    Render(false);
  }
}

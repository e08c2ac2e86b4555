#include "support/XvfbDisplay.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

std::string XvfbDisplay::FindProgram(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    std::string candidate = folder + "/" + program;
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

namespace {
const int kStartMs = 15000;
}  // namespace

bool XvfbDisplay::Installed() { return !FindProgram("Xvfb").empty(); }

XvfbDisplay::XvfbDisplay(int width, int height) {
  const std::string program = FindProgram("Xvfb");
  if (program.empty()) {
    m_failure = "Xvfb is not installed";
    return;
  }
  // -displayfd: the server takes the first free display number and writes it, once it accepts
  // connections, to the given descriptor (here its standard output). -noreset keeps it from
  // resetting whenever its last client leaves.
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  if (!m_server.Start({"-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, {}, program)) {
    m_failure = "Xvfb did not start";
    return;
  }
  if (!m_server.WaitForStdout("\n", kStartMs)) {
    m_failure = "Xvfb did not open a display: " + m_server.Stderr();
    return;
  }
  m_name = ":" + m_server.Stdout().substr(0, m_server.Stdout().find('\n'));
}

XvfbDisplay::~XvfbDisplay() {
  // A server ended by SIGTERM removes its lock file and socket.
  m_server.Signal(SIGTERM);
  m_server.Wait(5000);
}

ScopedDisplayVariable::ScopedDisplayVariable(const char* value) {
  const char* old = std::getenv("DISPLAY");
  m_bHad = old != nullptr;
  if (old) m_old = old;
  if (value) {
    setenv("DISPLAY", value, 1);
  } else {
    unsetenv("DISPLAY");
  }
}

ScopedDisplayVariable::~ScopedDisplayVariable() {
  if (m_bHad) {
    setenv("DISPLAY", m_old.c_str(), 1);
  } else {
    unsetenv("DISPLAY");
  }
}

#include "support/ClientProcess.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {
int g_counter = 0;

// Clients started by one test program share a runtime folder, and so their single-instance lock,
// with each other but not with clients of other test programs running at the same time.
const std::string& TestRuntimeDir() {
  static const std::string dir = [] {
    std::string path = "/tmp/tarvo-runtime-" + std::to_string(getpid());
    mkdir(path.c_str(), 0700);
    return path;
  }();
  return dir;
}
bool WriteProcFile(const char* path, const std::string& text) {
  int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return written;
}

}  // namespace

std::string UserLockFolder() { return "/tmp/tarvo-" + std::to_string(geteuid()); }

// Root makes the namespace itself; another user makes it inside a user namespace that maps only
// its own ids (an exec then leaves the process without capabilities). Mounts the tests make later
// still reach the process.
bool EnterPrivateMounts(const std::vector<std::pair<std::string, std::string>>& binds) {
  if (geteuid() == 0) {
    if (unshare(CLONE_NEWNS) != 0) return false;
  } else {
    const std::string uid = std::to_string(geteuid()), gid = std::to_string(getegid());
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    WriteProcFile("/proc/self/setgroups", "deny");
    if (!WriteProcFile("/proc/self/uid_map", uid + " " + uid + " 1") ||
        !WriteProcFile("/proc/self/gid_map", gid + " " + gid + " 1"))
      return false;
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) != 0) return false;
  for (const auto& [source, target] : binds)
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
  return true;
}

ClientProcess::~ClientProcess() {
  if (m_pid > 0 && Running()) {
    kill(m_pid, SIGKILL);
    Wait(5000);
  }
  if (m_stdin >= 0) close(m_stdin);
  if (!m_outPath.empty()) unlink(m_outPath.c_str());
  if (!m_errPath.empty()) unlink(m_errPath.c_str());
}

bool ClientProcess::Start(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                          const std::string& program, const std::string& workDir) {
  const std::string exe = program.empty() ? std::string(TARVO_CLIENT_BINARY) : program;
  std::string base = "/tmp/tarvo-client-" + std::to_string(getpid()) + "-" + std::to_string(++g_counter);
  m_outPath = base + ".out";
  m_errPath = base + ".err";
  int in[2];
  if (pipe2(in, O_CLOEXEC) != 0) return false;
  int out = open(m_outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int err = open(m_errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  std::vector<std::string> argStore;
  argStore.push_back(exe);
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string runtimeDir = TestRuntimeDir();
  const std::string lockFolder = m_lockFolder.empty() ? runtimeDir : m_lockFolder;
  mkdir(UserLockFolder().c_str(), 0700);  // the place the child's own folder is mounted on
  std::vector<std::pair<std::string, std::string>> binds = {{lockFolder, UserLockFolder()}};
  binds.insert(binds.end(), m_binds.begin(), m_binds.end());
  m_pid = fork();
  if (m_pid == 0) {
    dup2(in[0], 0);
    dup2(out, 1);
    dup2(err, 2);
    setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    // No test opens a window unless it names a display itself.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    for (auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    for (const std::string& name : m_unset) unsetenv(name.c_str());
    // Clients of test programs running side by side must not meet one another's lock.
    if (!EnterPrivateMounts(binds)) {
      static const char kNoNamespace[] = "test support: no mount namespace for the client's lock folder\n";
      ssize_t n = write(2, kNoNamespace, sizeof kNoNamespace - 1);
      (void)n;
      _exit(125);
    }
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out);
  close(err);
  m_stdin = in[1];
  return m_pid > 0;
}

void ClientProcess::WriteStdin(const std::string& text) {
  if (m_stdin >= 0) {
    ssize_t n = write(m_stdin, text.data(), text.size());
    (void)n;
  }
}

void ClientProcess::CloseStdin() {
  if (m_stdin >= 0) close(m_stdin);
  m_stdin = -1;
}

int ClientProcess::Wait(int ms) {
  if (m_pid <= 0) return -1;
  if (m_status >= 0) return m_status;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    int status = 0;
    pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
      m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return m_status;
    }
    if (std::chrono::steady_clock::now() > until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void ClientProcess::Signal(int sig) {
  if (m_pid > 0 && m_status < 0) kill(m_pid, sig);
}

bool ClientProcess::Running() { return m_pid > 0 && Wait(0) < 0; }

static bool WaitForText(const ClientProcess& p, bool err, const std::string& text, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if ((err ? p.Stderr() : p.Stdout()).find(text) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool ClientProcess::WaitForStdout(const std::string& text, int ms) { return WaitForText(*this, false, text, ms); }
bool ClientProcess::WaitForStderr(const std::string& text, int ms) { return WaitForText(*this, true, text, ms); }
std::string ClientProcess::Stdout() const { return ReadTextFile(m_outPath); }
std::string ClientProcess::Stderr() const { return ReadTextFile(m_errPath); }

void WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string RegistryText(const std::string& gameFolder, const std::string& extraLines) {
  return "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brix\\Tarvo]\n\"defaultdir\"=\"" + gameFolder + "\"\n" + extraLines;
}

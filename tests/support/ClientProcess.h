// Runs a program (by default the client binary) as a real process, with its own environment
// additions, standard input on a pipe, and standard output and error captured to files.
#pragma once
#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"

class ClientProcess {
 public:
  ClientProcess() = default;
  ~ClientProcess();  // kills the process if it still runs
  ClientProcess(const ClientProcess&) = delete;
  ClientProcess& operator=(const ClientProcess&) = delete;

  // Starts `program` (the client when empty) with `args` and the environment plus `env`.
  // The process's current folder is `workDir` when given.
  bool Start(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
             const std::string& program = "", const std::string& workDir = "");
  void WriteStdin(const std::string& text);
  void CloseStdin();
  // Waits up to `ms` for the exit; returns the exit code, 128+signal when killed, or -1 on time-out.
  int Wait(int ms);
  void Signal(int sig);
  bool Running();
  // Waits until standard output (or error) contains `text`.
  bool WaitForStdout(const std::string& text, int ms);
  bool WaitForStderr(const std::string& text, int ms);
  std::string Stdout() const;
  std::string Stderr() const;
  pid_t Pid() const { return m_pid; }
  // Before Start: the next start goes without the variable `name` (the runtime folder included).
  void Unset(const std::string& name) { m_unset.push_back(name); }
  // Before Start: the client's per-user lock lives in `folder` (a private folder), as a client of
  // another user's would, instead of in the folder the clients of this test program share.
  void UseLockFolder(const std::string& folder) { m_lockFolder = folder; }
  // Before Start: the client sees the file `source` in the place of `target` (e.g. /etc/resolv.conf).
  void SeeInPlace(const std::string& source, const std::string& target) { m_binds.emplace_back(source, target); }

 private:
  std::vector<std::string> m_unset;
  std::string m_lockFolder;
  std::vector<std::pair<std::string, std::string>> m_binds;
  pid_t m_pid = -1;
  int m_stdin = -1;
  int m_status = -1;
  std::string m_outPath, m_errPath;
};

// The folder of the client's per-user lock, which follows from the user id alone.
std::string UserLockFolder();
// For a child process before exec: a mount namespace of its own in which each pair's first folder
// stands in its second's place (bound in order).
bool EnterPrivateMounts(const std::vector<std::pair<std::string, std::string>>& binds);

void WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);
// A registry file whose product key holds "defaultdir" = gameFolder and the given extra lines.
std::string RegistryText(const std::string& gameFolder, const std::string& extraLines = "");

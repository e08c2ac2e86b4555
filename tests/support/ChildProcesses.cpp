#include "support/ChildProcesses.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

void AdoptOrphans() { prctl(PR_SET_CHILD_SUBREAPER, 1); }

bool HasChildNamed(const std::string& prefix) {
  const pid_t self = getpid();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;  // not a process
    std::ifstream in(entry.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // "pid (name) state ppid ...": the name may hold blanks and parentheses, so it ends at the last ')'.
    size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    std::istringstream rest(stat.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    if (!(rest >> state >> parent) || parent != self) continue;
    if (stat.compare(open + 1, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

#include <windows.h>

#include <iterator>

#include "platform/process.h"
#include "platform/process_end.h"
#include "platform/wide_win32.h"

namespace platform {

bool SpawnNoWait(const std::string& program, const std::vector<std::string>& args) {
  // The program's own path is given apart from the command line, so that a folder with blanks in
  // its name cannot make the system start another file.
  std::wstring name = WideFromUtf8(program);
  wchar_t full[MAX_PATH * 4];
  DWORD length = GetFullPathNameW(name.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
  if (length == 0 || length >= std::size(full)) return false;
  std::string line = program;
  if (!args.empty()) line += " " + JoinLikeCommandLine(args);
  std::wstring commandLine = WideFromUtf8(line);  // CreateProcessW may write into it

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // No handle of the client is inherited, above all not its single-instance mutex; a process group
  // of its own keeps the client's Ctrl+C from reaching the started program.
  if (!CreateProcessW(full, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

void EndProcessAtOnce(int code) {
  // ExitProcess would call every library's detach routine, and the C run-time's waits for the
  // stdio lock that a thread blocked reading standard input holds.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  for (;;) Sleep(INFINITE);
}

// Winsock reports a send to a closed peer as an error; there is no signal to turn off.
void IgnoreBrokenPipes() {}

}  // namespace platform

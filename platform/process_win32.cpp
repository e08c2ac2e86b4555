#include <windows.h>

#include <iterator>

#include "platform/process.h"
#include "platform/process_end.h"
#include "platform/wide_win32.h"

namespace platform {
namespace {

// The client's environment block without what only the client itself was to see; empty when
// nothing is to be left out, so that the started program simply inherits the client's.
std::wstring EnvironmentForPrograms() {
  std::wstring block;
  bool leftOut = false;
  wchar_t* strings = GetEnvironmentStringsW();
  if (!strings) return block;
  for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) {
    if (IsClientOnlyVariable(Utf8FromWide(entry))) {
      leftOut = true;
      continue;
    }
    block.append(entry);
    block.push_back(L'\0');
  }
  FreeEnvironmentStringsW(strings);
  if (!leftOut) return std::wstring();
  block.push_back(L'\0');
  return block;
}

}  // namespace

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
  std::wstring environment = EnvironmentForPrograms();
  const DWORD flags = CREATE_NEW_PROCESS_GROUP | (environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT);
  if (!CreateProcessW(full, commandLine.data(), nullptr, nullptr, FALSE, flags,
                      environment.empty() ? nullptr : environment.data(), nullptr, &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

void SetVariableForClientOnly(const std::string& name, const std::string& value) {
  const std::wstring wideName = WideFromUtf8(name);
  if (GetEnvironmentVariableW(wideName.c_str(), nullptr, 0) > 0) return;
  if (SetEnvironmentVariableW(wideName.c_str(), WideFromUtf8(value).c_str())) NoteClientOnlyVariable(name);
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

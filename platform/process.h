// Starting programs without waiting, and the functions that run when the client ends.
#pragma once
#include <string>
#include <vector>

namespace platform {

// Starts `program` (a path relative to the current directory or absolute) with the arguments
// joined by single blanks and split again on blanks, as the C run-time's spawn functions hand a
// Windows program its command line. Does not wait. Returns false when the program cannot start.
// The child inherits nothing but standard input, output and error.
bool SpawnNoWait(const std::string& program, const std::vector<std::string>& args);

// Sets a variable for the client's own process only (the window toolkit's settings, for
// instance): programs that SpawnNoWait starts do not inherit it. A variable the client was started
// with keeps its value and is passed on as before. Call it before other threads start.
void SetVariableForClientOnly(const std::string& name, const std::string& value);

// The command line the run-time builds from `args`: joined by single blanks, without quoting.
std::string JoinLikeCommandLine(const std::vector<std::string>& args);
// The argument vector that a program started with `args` sees after the run-time joins and splits them.
std::vector<std::string> SplitLikeCommandLine(const std::vector<std::string>& args);

// Registers a function to run when the client ends (the counterpart of atexit).
void RegisterExitFunction(void (*fn)());
// A peer that goes away must end a send with an error, not the process.
void IgnoreBrokenPipes();

// Runs the registered functions in reverse order of registration, flushes the standard streams and
// ends the process with `code` without running static destructors (worker threads may still run).
// Safe to call from several threads at once: the functions run once, and only the first caller's
// code counts.
[[noreturn]] void ExitProcess(int code);

}  // namespace platform

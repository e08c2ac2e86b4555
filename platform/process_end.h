// What the systems' own process code shares with the portable part: the end of a process behind
// ExitProcess, and the variables kept from started programs.
#pragma once
#include <string>

namespace platform {

// Ends the process with `code` at once: no static destructors, no exit handlers of the run-time,
// no flushing, nothing that could wait for a lock another thread (a worker, a blocked read of
// standard input) still holds.
[[noreturn]] void EndProcessAtOnce(int code);

// Remembers a variable that SetVariableForClientOnly has set, so that started programs go without it.
void NoteClientOnlyVariable(const std::string& name);
// Whether `entry` ("NAME=value") is such a variable.
bool IsClientOnlyVariable(const std::string& entry);

}  // namespace platform

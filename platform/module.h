// Parts of the program that are loaded only when they are used (the window and its toolkit), so
// that a run without them never loads their libraries.
#pragma once
#include <string>

namespace platform {

// The folder that holds the running program's file; "" when it cannot be told.
std::string ProgramFolder();

// Loads the shared object at `path` (once; it stays loaded) and returns the address of `symbol`
// in it, or nullptr with the loader's reason in `whyNot`.
void* LoadModuleSymbol(const std::string& path, const char* symbol, std::string& whyNot);

}  // namespace platform

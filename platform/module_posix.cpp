#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "platform/module.h"

namespace platform {

std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  std::string program(path, static_cast<size_t>(length));
  const size_t slash = program.rfind('/');
  return slash == std::string::npos ? "" : program.substr(0, slash == 0 ? 1 : slash);
}

void* LoadModuleSymbol(const std::string& path, const char* symbol, std::string& whyNot) {
  // Every symbol at once: a module whose libraries are incomplete fails here, not halfway
  // through a run.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* reason = dlerror();
    whyNot = reason ? reason : "cannot be loaded";
    return nullptr;
  }
  void* address = dlsym(module, symbol);
  if (!address) {
    const char* reason = dlerror();
    whyNot = reason ? reason : std::string(symbol) + " is missing";
  }
  return address;
}

}  // namespace platform

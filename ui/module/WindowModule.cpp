// The window's entry seen from the program: the window, its toolkit and the web view live in a
// module of their own, loaded only when the window opens, so a console run (and every test, CI
// job or server that never shows a window) loads none of their libraries, and a machine without
// them still runs the console.
#include <cstdlib>
#include <string>

#include "platform/module.h"
#include "ui/WindowFrontEnd.h"
#include "ui/module/WindowEntry.h"

namespace {

// Beside the program in a build folder; in the library folder where the package installs it.
std::string ModulePath(std::string& whyNot, WindowEntry& entry) {
  const std::string folder = platform::ProgramFolder();
  for (const std::string& candidate :
       {folder + "/" + kWindowModuleName, folder + "/" + TARVO_WINDOW_MODULE_FROM_BIN + "/" + kWindowModuleName}) {
    std::string why;
    if (void* address = platform::LoadModuleSymbol(candidate, kWindowEntrySymbol, why)) {
      entry = reinterpret_cast<WindowEntry>(address);
      return candidate;
    }
    // The first reason that is not a missing file says most.
    if (whyNot.empty() || whyNot.find("No such file") != std::string::npos) whyNot = why;
  }
  return "";
}

}  // namespace

bool WindowByDefault() {
  auto isSet = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

bool RunClientInWindow(int argc, char** argv, const std::function<void(IFrontEnd&)>& runClient, std::string& whyNot) {
  WindowEntry entry = nullptr;
  std::string whyNoModule;
  if (ModulePath(whyNoModule, entry).empty()) {
    whyNot = "the window module cannot be loaded: " + whyNoModule;
    return false;
  }
  return entry(argc, argv, runClient, whyNot);
}

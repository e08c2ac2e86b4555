// Entry point: picks the front end, runs the client, and ends the process with its exit functions.
//
// TARVO_UI=gui or console forces a front end; unset, the window is used where there is a desktop
// for it. A window that cannot open falls back to the console with one line on standard error.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/PatchClientApp.h"
#include "platform/console.h"
#include "platform/process.h"
#include "ui/WindowFrontEnd.h"
#include "ui/console/ConsoleFrontEnd.h"

namespace {

bool WantWindow() {
  const char* ui = std::getenv("TARVO_UI");
  std::string choice = ui ? ui : "";
  if (choice == "console") return false;
  if (choice == "gui") return true;
  return WindowByDefault();
}

}  // namespace

int main(int argc, char** argv) {
  platform::PrepareConsole();
  const std::string commandLine = CommandLineFromArgs(argc, argv);
  auto runClient = [&commandLine](IFrontEnd& frontEnd) {
    CPatchClientApp app(frontEnd, commandLine);
    app.InitInstance();
  };
  if (WantWindow()) {
    std::string whyNot;
    if (RunClientInWindow(argc, argv, runClient, whyNot)) platform::ExitProcess(0);
    std::fprintf(stderr, "TarvoPatchClient: no window (%s); using the console\n", whyNot.c_str());
  }
  ConsoleFrontEnd console;
  runClient(console);
  platform::ExitProcess(0);
}

// Entry point: picks the front end, runs the client, and ends the process with its exit functions.
#include <cstdlib>
#include <cstring>

#include "app/PatchClientApp.h"
#include "platform/process.h"
#include "ui/console/ConsoleFrontEnd.h"

int main(int argc, char** argv) {
  // Before any thread exists, so that only the front end ever receives a Cancel signal.
  ConsoleFrontEnd::BlockCancelSignals();
  ConsoleFrontEnd console;
  CPatchClientApp app(console, CommandLineFromArgs(argc, argv));
  app.InitInstance();
  platform::ExitProcess(0);
}

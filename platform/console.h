// The console the client runs in: how it prints, and the keys and signals that ask it to stop.
#pragma once
#include <functional>

namespace platform {

// Called first in main. On Windows the console then prints UTF-8 and understands the escapes that
// redraw a live line. On Linux nothing is left to do: the cancel signals are taken from every
// thread before main already, since some libraries start threads of their own while they load.
void PrepareConsole();

// Whether standard output is a terminal (where a live line can be redrawn) rather than a file or pipe.
bool StandardOutputIsTerminal();

// From now on `onCancel` runs, on a thread that is not the caller's, each time the user asks the
// client to stop: SIGINT or SIGTERM on Linux; Ctrl+C, Ctrl+Break or closing the console window on
// Windows. A later call replaces it; after SetCancelHandler(nullptr) returns, the previous handler
// is not running and never runs again. Such requests never end the process by themselves.
void SetCancelHandler(std::function<void()> onCancel);

}  // namespace platform

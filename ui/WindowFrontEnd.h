// The windowed front end's entry, seen from main without any toolkit: it opens the window's
// toolkit, runs the client in it and returns true; or returns false with the reason when no window
// can open, and then the client has not run.
#pragma once
#include <functional>
#include <string>

class IFrontEnd;

// Whether the window is the front end when TARVO_UI does not choose: where there is a desktop for it.
bool WindowByDefault();

bool RunClientInWindow(int argc, char** argv, const std::function<void(IFrontEnd&)>& runClient,
                       std::string& whyNot);

// Built in place of the window when the toolkit is not there: every run uses the console.
#include "ui/WindowFrontEnd.h"

bool WindowByDefault() { return false; }

bool RunClientInWindow(int, char**, const std::function<void(IFrontEnd&)>&, std::string& whyNot) {
  whyNot = "this build has no window";
  return false;
}

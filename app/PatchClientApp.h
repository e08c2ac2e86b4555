// The application object: single instance, the command-line check, then the modal dialog.
#pragma once
#include <string>

class IFrontEnd;

class CPatchClientApp {
 public:
  // `commandLine` is the text after the program name, as the launcher wrote it.
  CPatchClientApp(IFrontEnd& frontEnd, std::string commandLine);
  // Runs the whole client; always returns false, so no further message loop is entered.
  bool InitInstance();

 private:
  IFrontEnd& m_frontEnd;
  std::string m_strCommandLine;
};

// The framework's command line for the arguments of main: argv[1..] joined by single blanks.
std::string CommandLineFromArgs(int argc, char** argv);

// The parts of starting and ending that are the same on every system.
#include "platform/process.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/clock.h"
#include "platform/process_end.h"

namespace platform {
namespace {

std::mutex g_exitMutex;
std::vector<void (*)()> g_exitFunctions;

std::mutex g_variablesMutex;
std::vector<std::string> g_clientOnlyVariables;

}  // namespace

std::string JoinLikeCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) line.push_back(' ');
    line += args[i];
  }
  return line;
}

std::vector<std::string> SplitLikeCommandLine(const std::vector<std::string>& args) {
  std::vector<std::string> words;
  std::string word;
  for (char c : JoinLikeCommandLine(args)) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word.push_back(c);
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

void NoteClientOnlyVariable(const std::string& name) {
  std::lock_guard<std::mutex> lock(g_variablesMutex);
  g_clientOnlyVariables.push_back(name);
}

bool IsClientOnlyVariable(const std::string& entry) {
  std::lock_guard<std::mutex> lock(g_variablesMutex);
  for (const std::string& name : g_clientOnlyVariables) {
    if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=') return true;
  }
  return false;
}

void RegisterExitFunction(void (*fn)()) {
  std::lock_guard<std::mutex> lock(g_exitMutex);
  g_exitFunctions.push_back(fn);
}

void ExitProcess(int code) {
  // Two threads may end the client at once (the normal end and Cancel's backstop): the first runs
  // the exit functions and ends the process; any later caller waits for that instead of cutting
  // the first one short.
  static std::atomic<bool> ending{false};
  if (ending.exchange(true)) {
    for (;;) SleepMs(60000);
  }
  std::vector<void (*)()> functions;
  {
    std::lock_guard<std::mutex> lock(g_exitMutex);
    functions.swap(g_exitFunctions);
  }
  for (auto it = functions.rbegin(); it != functions.rend(); ++it) (*it)();
  std::fflush(stdout);
  std::fflush(stderr);
  EndProcessAtOnce(code);
}

}  // namespace platform

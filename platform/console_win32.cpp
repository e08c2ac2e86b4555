#include <windows.h>

#include <mutex>

#include "platform/console.h"

namespace platform {
namespace {

std::mutex g_handlerMutex;
std::function<void()> g_handler;

BOOL WINAPI OnConsoleControl(DWORD event) {
  {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    if (g_handler) g_handler();
  }
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // Closing the window, logging off or shutting down ends the process as soon as this returns;
  // waiting here gives Cancel the time to end the client itself, with its exit functions.
  Sleep(4000);
  return TRUE;
}

void WatchConsoleControl() {
  static std::once_flag watching;
  std::call_once(watching, [] { SetConsoleCtrlHandler(&OnConsoleControl, TRUE); });
}

}  // namespace

void PrepareConsole() {
  WatchConsoleControl();
  SetConsoleOutputCP(CP_UTF8);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

bool StandardOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void SetCancelHandler(std::function<void()> onCancel) {
  WatchConsoleControl();
  std::lock_guard<std::mutex> lock(g_handlerMutex);
  g_handler = std::move(onCancel);
}

}  // namespace platform

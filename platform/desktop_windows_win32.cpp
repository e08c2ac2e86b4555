#include <windows.h>

#include <iterator>

#include "platform/desktop_windows.h"
#include "platform/wide_win32.h"

namespace platform {
namespace {

HWND Handle(DesktopWindow window) { return reinterpret_cast<HWND>(window); }

std::string ClassOf(HWND window) {
  wchar_t name[256];
  int length = GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return length > 0 ? Utf8FromWide(std::wstring_view(name, static_cast<size_t>(length))) : std::string();
}

std::string TitleOf(HWND window) {
  // GetWindowTextW sends WM_GETTEXT to windows of this process only; another program's window that
  // hangs cannot hold the scan.
  int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring title(static_cast<size_t>(length) + 1, L'\0');
  length = GetWindowTextW(window, title.data(), length + 1);
  title.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return Utf8FromWide(title);
}

BOOL CALLBACK AddWindow(HWND window, LPARAM list) {
  DesktopWindowInfo info;
  info.window = reinterpret_cast<DesktopWindow>(window);
  info.className = ClassOf(window);
  info.title = TitleOf(window);
  reinterpret_cast<std::vector<DesktopWindowInfo>*>(list)->push_back(std::move(info));
  return TRUE;
}

}  // namespace

std::vector<DesktopWindowInfo> ListDesktopWindows() {
  std::vector<DesktopWindowInfo> windows;
  EnumWindows(&AddWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

bool MinimiseDesktopWindow(DesktopWindow window) {
  // Asynchronous: a browser that does not answer its messages must not hold the client's start.
  return window && IsWindow(Handle(window)) && ShowWindowAsync(Handle(window), SW_MINIMIZE);
}

bool PostDesktopCommand(DesktopWindow window, uint32_t commandId, intptr_t lParam) {
  return window && PostMessageW(Handle(window), WM_COMMAND, commandId, lParam);
}

}  // namespace platform

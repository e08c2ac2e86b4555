// The desktop through Xlib. Every operation opens a connection of its own and closes it again, so
// no Xlib state is shared between the threads that scan (the user-interface thread) and send (the
// version check thread), nor with a toolkit's connection in the same process.
#include <algorithm>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/desktop_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xlibint.h>  // XESetWireToError: the per-connection error filter of Xlib's extension interface
#include <X11/Xutil.h>
#undef min  // Xlibint.h's macros
#undef max

namespace platform {
namespace {

constexpr long kMaxPropertyLongs = 16384;     // 64 KiB of a title or class; the rest is not read
constexpr size_t kMaxFrameDescendants = 1024;  // windows searched inside one window manager frame
constexpr char kCommandAtom[] = "_TARVO_WM_COMMAND";

// Other programs destroy their windows whenever they like, so a request about a window that was
// just listed may fail with BadWindow; Xlib's default handler would end the client for it. Errors on
// our own connections are counted and dropped by the connection's error filter instead, so the
// process-wide handler, which a toolkit may own, is never touched. A connection is used by one
// thread only, which is also the thread its errors are reported on.
thread_local unsigned t_errors = 0;

Bool DropError(Display*, XErrorEvent*, xError*) {
  ++t_errors;
  return False;
}

// A server that goes away in the middle of an operation makes Xlib call the process-wide I/O error
// handler and then the connection's exit handler, both of which end the process by default. For our
// connections both return, and the operation fails; other connections get the handler they had.
std::mutex g_ownMutex;
std::vector<Display*> g_own;
XIOErrorHandler g_previousIoHandler = nullptr;

bool IsOwn(Display* display) {
  std::lock_guard<std::mutex> lock(g_ownMutex);
  return std::find(g_own.begin(), g_own.end(), display) != g_own.end();
}

int OnIoError(Display* display) {
  if (IsOwn(display) || !g_previousIoHandler) return 0;
  return g_previousIoHandler(display);
}

void MarkLost(Display*, void* lost) { *static_cast<bool*>(lost) = true; }

class Connection {
 public:
  Connection() : m_display(XOpenDisplay(nullptr)) {
    if (!m_display) return;
    static std::once_flag ioHandler;
    std::call_once(ioHandler, [] { g_previousIoHandler = XSetIOErrorHandler(OnIoError); });
    {
      std::lock_guard<std::mutex> lock(g_ownMutex);
      g_own.push_back(m_display);
    }
    for (int code = 1; code < 256; ++code) XESetWireToError(m_display, code, DropError);
    XSetIOErrorExitHandler(m_display, MarkLost, &m_bLost);
    t_errors = 0;
  }
  ~Connection() {
    if (!m_display) return;
    XCloseDisplay(m_display);
    std::lock_guard<std::mutex> lock(g_ownMutex);
    g_own.erase(std::find(g_own.begin(), g_own.end(), m_display));
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  explicit operator bool() const { return m_display != nullptr; }
  Display* Get() const { return m_display; }
  // Waits until the server has handled every request so far; true when none of them failed.
  bool Succeeded() {
    XSync(m_display, False);
    return t_errors == 0 && !m_bLost;
  }

 private:
  Display* m_display;
  bool m_bLost = false;
};

// A property of 8-bit items, at most kMaxPropertyLongs long; `type` is None when the window has none.
std::string ReadProperty(Display* display, Window window, Atom property, Atom& type) {
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  type = None;
  std::string value;
  if (XGetWindowProperty(display, window, property, 0, kMaxPropertyLongs, False, AnyPropertyType, &type, &format,
                         &items, &after, &data) != Success) {
    type = None;
  } else if (data && format == 8) {
    value.assign(reinterpret_cast<const char*>(data), items);
  }
  if (data) XFree(data);
  return value;
}

bool HasProperty(Display* display, Window window, Atom property) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  int status = XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType, &type, &format, &items,
                                  &after, &data);
  if (data) XFree(data);
  return status == Success && type != None;
}

std::vector<Window> Children(Display* display, Window window) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  std::vector<Window> result;
  if (XQueryTree(display, window, &root, &parent, &children, &count) && children) {
    result.assign(children, children + count);
  }
  if (children) XFree(children);
  return result;
}

// The program's own window for a child of the root. A reparenting window manager puts each managed
// window into a frame of its own and marks it with WM_STATE; without one (or for windows it does not
// manage) the child of the root is the program's window.
Window ClientWindow(Display* display, Window top, Atom wmState) {
  if (wmState == None || HasProperty(display, top, wmState)) return top;
  std::deque<Window> queue;
  for (Window child : Children(display, top)) queue.push_back(child);
  for (size_t searched = 0; !queue.empty() && searched < kMaxFrameDescendants; ++searched) {
    Window window = queue.front();
    queue.pop_front();
    if (HasProperty(display, window, wmState)) return window;
    for (Window child : Children(display, window)) queue.push_back(child);
  }
  return top;
}

// The title as UTF-8: the desktop's _NET_WM_NAME, else the classic WM_NAME in whatever encoding
// the program chose (Latin-1 STRING, COMPOUND_TEXT or UTF8_STRING).
std::string Title(Display* display, Window window, Atom netWmName, Atom utf8String) {
  Atom type = None;
  std::string title = ReadProperty(display, window, netWmName, type);
  if (type == utf8String) return title;
  title = ReadProperty(display, window, XA_WM_NAME, type);
  if (type == None || type == utf8String || title.empty()) return title;
  XTextProperty text{reinterpret_cast<unsigned char*>(title.data()), type, 8, title.size()};
  char** list = nullptr;
  int count = 0;
  if (Xutf8TextPropertyToTextList(display, &text, &list, &count) < Success || !list) return title;
  std::string converted;
  for (int i = 0; i < count; ++i) converted += list[i];
  XFreeStringList(list);
  return converted;
}

DesktopWindowInfo Describe(Display* display, Window window, Atom netWmName, Atom utf8String) {
  DesktopWindowInfo info;
  info.window = window;
  Atom type = None;
  // WM_CLASS holds two zero-terminated names: the instance, then the class.
  std::string names = ReadProperty(display, window, XA_WM_CLASS, type);
  size_t end = names.find('\0');
  info.instanceName = names.substr(0, end);
  if (end != std::string::npos) info.className = names.substr(end + 1, names.find('\0', end + 1) - end - 1);
  info.title = Title(display, window, netWmName, utf8String);
  return info;
}

}  // namespace

std::vector<DesktopWindowInfo> ListDesktopWindows() {
  std::vector<DesktopWindowInfo> windows;
  Connection x;
  if (!x) return windows;
  Display* display = x.Get();
  // WM_STATE only exists once a window manager has run; without it no frame needs searching.
  const Atom wmState = XInternAtom(display, "WM_STATE", True);
  const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
  for (int screen = 0; screen < ScreenCount(display); ++screen) {
    std::vector<Window> tops = Children(display, RootWindow(display, screen));
    // The server lists children bottom first; the scan meets the topmost first, as the desktop shows them.
    for (auto top = tops.rbegin(); top != tops.rend(); ++top) {
      windows.push_back(Describe(display, ClientWindow(display, *top, wmState), netWmName, utf8String));
    }
  }
  return windows;
}

bool MinimiseDesktopWindow(DesktopWindow window) {
  Connection x;
  if (!x || window == 0) return false;
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(x.Get(), window, &attributes)) return false;
  // The ICCCM way: a WM_CHANGE_STATE request to the window manager through the window's root.
  XIconifyWindow(x.Get(), window, XScreenNumberOfScreen(attributes.screen));
  return x.Succeeded();
}

bool PostDesktopCommand(DesktopWindow window, uint32_t commandId, intptr_t lParam) {
  Connection x;
  if (!x || window == 0) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(x.Get(), kCommandAtom, False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(commandId);
  event.xclient.data.l[1] = static_cast<long>(lParam);
  // No event mask: the event goes to the program that created the window.
  XSendEvent(x.Get(), window, False, NoEventMask, &event);
  return x.Succeeded();
}

}  // namespace platform

#include "support/TestDesktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {
const long kIconicState = 3;
}

TestDesktop::TestDesktop(const std::string& displayName) : m_display(XOpenDisplay(displayName.c_str())) {}

TestDesktop::~TestDesktop() {
  if (m_display) XCloseDisplay(m_display);
}

TestDesktop::Window TestDesktop::Create(Window parent) {
  XSetWindowAttributes attributes{};
  attributes.background_pixel = WhitePixel(m_display, DefaultScreen(m_display));
  Window window = XCreateWindow(m_display, parent, 10, 10, 200, 100, 0, CopyFromParent, InputOutput, CopyFromParent,
                                CWBackPixel, &attributes);
  XMapWindow(m_display, window);
  return window;
}

void TestDesktop::Name(Window window, const std::string& instance, const std::string& className) {
  std::string names = instance + '\0' + className + '\0';
  XChangeProperty(m_display, window, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(names.data()), static_cast<int>(names.size()));
}

void TestDesktop::SetTitle(Window window, const std::string& title, TitleAs titleAs) {
  if (titleAs == TitleAs::kNetWmName) {
    XChangeProperty(m_display, window, XInternAtom(m_display, "_NET_WM_NAME", False),
                    XInternAtom(m_display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
    return;
  }
  char* list[] = {const_cast<char*>(title.c_str())};
  XTextProperty text{};
  XICCEncodingStyle style = titleAs == TitleAs::kLatin1WmName ? XStringStyle : XCompoundTextStyle;
  if (Xutf8TextListToTextProperty(m_display, list, 1, style, &text) >= Success) {
    XSetWMName(m_display, window, &text);
    XFree(text.value);
  }
}

TestDesktop::Window TestDesktop::MakeWindow(const std::string& instance, const std::string& className,
                                            const std::string& title, TitleAs titleAs) {
  Window window = Create(DefaultRootWindow(m_display));
  Name(window, instance, className);
  if (!title.empty()) SetTitle(window, title, titleAs);
  XSync(m_display, False);
  return window;
}

TestDesktop::Window TestDesktop::MakeFramedWindow(const std::string& instance, const std::string& className,
                                                  const std::string& title) {
  Window frame = Create(DefaultRootWindow(m_display));
  Window decoration = Create(frame);  // window managers keep a title bar or a border window in between
  Window window = Create(decoration);
  Name(window, instance, className);
  SetTitle(window, title, TitleAs::kNetWmName);
  Atom wmState = XInternAtom(m_display, "WM_STATE", False);
  long state[2] = {1, 0};  // NormalState, no icon window
  XChangeProperty(m_display, window, wmState, wmState, 32, PropModeReplace, reinterpret_cast<unsigned char*>(state), 2);
  XSync(m_display, False);
  m_frames.emplace_back(window, frame);
  return window;
}

TestDesktop::Window TestDesktop::FrameOf(Window framed) const {
  for (const auto& [window, frame] : m_frames) {
    if (window == framed) return frame;
  }
  return 0;
}

void TestDesktop::Destroy(Window window) { XDestroyWindow(m_display, window); }

void TestDesktop::ActAsWindowManager() {
  XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureRedirectMask | SubstructureNotifyMask);
  XSync(m_display, False);
}

std::vector<TestDesktop::Message> TestDesktop::Messages() {
  // The round trip's answer comes after every event the server had queued for this connection.
  XSync(m_display, False);
  while (XPending(m_display)) {
    XEvent event;
    XNextEvent(m_display, &event);
    if (event.type != ClientMessage) continue;
    Message message;
    message.window = event.xclient.window;
    char* name = XGetAtomName(m_display, event.xclient.message_type);
    message.type = name ? name : "";
    if (name) XFree(name);
    message.format = event.xclient.format;
    for (int i = 0; i < 5; ++i) message.data[i] = event.xclient.data.l[i];
    m_messages.push_back(message);
  }
  return m_messages;
}

std::vector<TestDesktop::Window> TestDesktop::IconifyRequests() {
  std::vector<Window> windows;
  for (const Message& message : Messages()) {
    if (message.type == "WM_CHANGE_STATE" && message.data[0] == kIconicState) windows.push_back(message.window);
  }
  return windows;
}

void DesktopFixture::SetUp() {
  if (!XvfbDisplay::Installed()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
  m_server = std::make_unique<XvfbDisplay>();
  ASSERT_TRUE(m_server->Running()) << m_server->Failure();
  m_desktop = std::make_unique<TestDesktop>(m_server->Name());
  ASSERT_TRUE(m_desktop->Connected());
}

// A test's own connection to an X display: it makes windows with chosen names and titles as
// programs and window managers do, and records what other clients send to them.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/XvfbDisplay.h"

struct _XDisplay;

class TestDesktop {
 public:
  using Window = unsigned long;
  struct Message {
    Window window = 0;
    std::string type;  // the atom's name
    int format = 0;
    long data[5] = {};
  };
  // How a window's title is stored: the desktop's UTF-8 _NET_WM_NAME, or the classic WM_NAME as
  // Latin-1 STRING or as COMPOUND_TEXT.
  enum class TitleAs { kNetWmName, kLatin1WmName, kCompoundWmName };

  explicit TestDesktop(const std::string& displayName);
  ~TestDesktop();
  TestDesktop(const TestDesktop&) = delete;
  TestDesktop& operator=(const TestDesktop&) = delete;

  bool Connected() const { return m_display != nullptr; }

  // A mapped top-level window with WM_CLASS (instance, class) and, unless empty, a title.
  Window MakeWindow(const std::string& instance, const std::string& className, const std::string& title,
                    TitleAs titleAs = TitleAs::kNetWmName);
  // The same, inside a frame as a reparenting window manager keeps it: the frame is the root's
  // child, the window (returned) two levels below it carries WM_STATE.
  Window MakeFramedWindow(const std::string& instance, const std::string& className, const std::string& title);
  // Adds a title stored the other way, so a window holds both.
  void SetTitle(Window window, const std::string& title, TitleAs titleAs);
  Window FrameOf(Window framed) const;
  void Destroy(Window window);

  // Takes the window manager's place (there must be none): requests sent to the root, such as
  // WM_CHANGE_STATE, come here.
  void ActAsWindowManager();
  // The client messages delivered to this connection so far. Whatever another client sent before
  // this call (and saw handled) is among them.
  std::vector<Message> Messages();
  // The windows asked to become iconic (WM_CHANGE_STATE with IconicState), in order.
  std::vector<Window> IconifyRequests();

 private:
  Window Create(Window parent);
  void Name(Window window, const std::string& instance, const std::string& className);
  _XDisplay* m_display = nullptr;
  std::vector<Message> m_messages;
  std::vector<std::pair<Window, Window>> m_frames;  // framed window, frame
};

// A test on an X server of its own with a TestDesktop connected to it; skipped where Xvfb is not
// installed.
class DesktopFixture : public ::testing::Test {
 protected:
  void SetUp() override;

  std::unique_ptr<XvfbDisplay> m_server;
  std::unique_ptr<TestDesktop> m_desktop;
};

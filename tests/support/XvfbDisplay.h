// An X server of a test's own: Xvfb on a display number that it picks itself, so tests running at
// the same time never share a desktop. It runs without a window manager and stops with the object.
#pragma once
#include <string>

#include "support/ClientProcess.h"

class XvfbDisplay {
 public:
  // Starts Xvfb with one screen of `width` × `height` pixels at 24 bits and waits until it accepts
  // connections.
  explicit XvfbDisplay(int width = 1024, int height = 768);
  ~XvfbDisplay();
  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;

  // Whether an Xvfb program is on the PATH at all (tests skip without one).
  static bool Installed();
  // The program's full path when it is on the PATH; empty otherwise.
  static std::string FindProgram(const std::string& program);
  // Whether this server started; `Failure` says why not.
  bool Running() const { return !m_name.empty(); }
  const std::string& Failure() const { return m_failure; }
  // The DISPLAY value that reaches it, such as ":3".
  const std::string& Name() const { return m_name; }

 private:
  ClientProcess m_server;
  std::string m_name;
  std::string m_failure;
};

// Sets DISPLAY for this process (for Xlib opened in the test itself) and puts the old value back.
class ScopedDisplayVariable {
 public:
  explicit ScopedDisplayVariable(const char* value);  // nullptr unsets it
  ~ScopedDisplayVariable();
  ScopedDisplayVariable(const ScopedDisplayVariable&) = delete;
  ScopedDisplayVariable& operator=(const ScopedDisplayVariable&) = delete;

 private:
  bool m_bHad;
  std::string m_old;
};

// The project's patch server (tools/patch_server.py) run for a test with a JSON configuration.
#pragma once
#include <string>

#include "support/ClientProcess.h"

class PatchServer {
 public:
  // `configJson` is the body of the configuration object without its braces' port, log and
  // port_file keys, which the server is given here; for example "\"versions\": [\"1.0\"]".
  explicit PatchServer(const std::string& configJson);
  ~PatchServer();
  int Port() const { return m_port; }
  // Lines the server logged: "connect", "recv TYPE LENGTH", "close".
  std::string Log() const;
  // The client frame types received, in order, as "0 4 9 2".
  std::string ReceivedTypes() const;
  int Connections() const;
  // Waits until the log holds `text`.
  bool WaitForLog(const std::string& text, int ms) const;

 private:
  TempDir m_dir;
  ClientProcess m_process;
  int m_port = 0;
};

// A loopback port on which nothing listens (connections to it are refused).
int UnusedPort();

// A DNS server on a loopback address of its own (port 53, so root or a capability is needed) that
// answers every A query with 127.0.0.1, each answer held back for a while: names that take their
// time to look up. ResolvConf() is a resolv.conf naming it, for a client's private mounts.
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

class SlowNameServer {
 public:
  explicit SlowNameServer(int delayMs);
  ~SlowNameServer();
  bool Listening() const { return m_socket >= 0; }
  // A resolv.conf with this server as the only name server.
  std::string ResolvConf() const { return m_dir / "resolv.conf"; }
  // The names asked for, in order.
  std::vector<std::string> Questions();

 private:
  void Serve();
  const int m_delayMs;
  TempDir m_dir;
  int m_socket = -1;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  std::mutex m_mutex;
  std::vector<std::string> m_questions;
};

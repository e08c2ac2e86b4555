// The network library over one TCP connection. A reader thread takes whole frames off the socket,
// queues them and raises one "frame ready" event per frame; the connection's end raises "closed".
#include "zonet/ZoNet.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kConnectTimeoutMs = 5000;
// The client only ever answers with header-only frames: thousands of them fit, and a peer that stops
// reading fills it within moments rather than after megabytes of automatic growth.
constexpr int kSendBufferBytes = 16 << 10;

struct Connection {
  int fd = -1;
  void* context = nullptr;
  ZoNetCallback callback = nullptr;
  std::atomic<bool> superseded{false};
  std::atomic<bool> ended{false};  // given up by a send: nothing more is read from it
  std::thread reader;
};

std::mutex g_mutex;  // guards the globals below
std::shared_ptr<Connection> g_current;
std::vector<std::shared_ptr<Connection>> g_retired;  // joined at shut-down, never from their own callback
std::deque<std::vector<uint8_t>> g_frames;
std::mutex g_sendMutex;

// Cancel's wake-up: readable from ZoNet_Abort until the shut-down, so every wait below sees it.
int AbortFd() {
  static const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd;
}

bool Aborted() {
  pollfd p{AbortFd(), POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

enum class Wait { kReady, kTimedOut, kAborted };

// Waits until `fd` has one of `events`, the deadline passes or the client is cancelled.
Wait WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Wait::kTimedOut;
    pollfd p[2] = {{fd, events, 0}, {AbortFd(), POLLIN, 0}};
    int n = poll(p, 2, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (p[1].revents & POLLIN)) return Wait::kAborted;
    if (n > 0) return Wait::kReady;
  }
}

std::chrono::steady_clock::time_point ConnectDeadline() {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
}

void Raise(const std::shared_ptr<Connection>& conn, unsigned event) {
  if (!conn->superseded.load() && conn->callback) conn->callback(event, conn->context);
}

bool ReadFully(int fd, uint8_t* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = recv(fd, buffer + done, count - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void ReaderLoop(std::shared_ptr<Connection> conn) {
  uint8_t frame[ZONET_MAX_FRAME];
  for (;;) {
    if (!ReadFully(conn->fd, frame, 2)) break;
    uint32_t length = frame[0] | frame[1] << 8;
    // A length outside the frame's limits means the stream can no longer be trusted.
    if (length < 4 || length > ZONET_MAX_FRAME) break;
    if (!ReadFully(conn->fd, frame + 2, length - 2)) break;
    if (conn->superseded.load()) return;
    if (conn->ended.load()) break;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_frames.emplace_back(frame, frame + length);
    }
    Raise(conn, ZONET_EVENT_FRAME_READY);
  }
  Raise(conn, ZONET_EVENT_CLOSED);
}

// Connects with a time-out; returns the socket or -1.
int ConnectTo(const char* host, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  if (getaddrinfo(host, service.c_str(), &hints, &list) != 0) return -1;
  int result = -1;
  for (addrinfo* ai = list; ai && result < 0 && !Aborted(); ai = ai->ai_next) {
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = connect(fd, ai->ai_addr, ai->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      int err = 0;
      socklen_t len = sizeof err;
      if (WaitFor(fd, POLLOUT, ConnectDeadline()) == Wait::kReady &&
          getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
        rc = 0;
    }
    if (rc == 0) {
      fcntl(fd, F_SETFL, flags);
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
      result = fd;
    } else {
      close(fd);
    }
  }
  freeaddrinfo(list);
  return result;
}

}  // namespace

int ZoNet_StartUp(void* context, const char* host, uint16_t port, ZoNetCallback callback) {
  auto conn = std::make_shared<Connection>();
  conn->context = context;
  conn->callback = callback;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_current) {
      g_current->superseded = true;
      if (g_current->fd >= 0) shutdown(g_current->fd, SHUT_RDWR);
      g_retired.push_back(g_current);
    }
    g_current = conn;
    g_frames.clear();
  }
  conn->fd = host ? ConnectTo(host, port) : -1;
  if (conn->fd < 0) {
    // Reported as an event, like every other connection failure, after the caller has returned.
    conn->reader = std::thread([conn] { Raise(conn, ZONET_EVENT_CONNECT_FAILED); });
    return 0;
  }
  conn->reader = std::thread(ReaderLoop, conn);
  return 1;
}

int Send(const void* frame, uint32_t length) {
  std::shared_ptr<Connection> conn;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    conn = g_current;
  }
  if (!conn || conn->fd < 0 || !frame || length < 4 || length > ZONET_MAX_FRAME) return 0;
  std::lock_guard<std::mutex> lock(g_sendMutex);
  const uint8_t* p = static_cast<const uint8_t*>(frame);
  const auto deadline = ConnectDeadline();
  for (uint32_t done = 0; done < length;) {
    ssize_t n = send(conn->fd, p + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      Wait waited = WaitFor(conn->fd, POLLOUT, deadline);
      if (waited == Wait::kReady) continue;
      // A peer that does not read would hold the sender for ever: end the connection, and the
      // reader reports it as closed.
      if (waited == Wait::kTimedOut) {
        conn->ended = true;
        shutdown(conn->fd, SHUT_RDWR);
      }
    }
    return 0;
  }
  return 1;
}

int Recv(void* buffer, uint32_t* size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!buffer || g_frames.empty()) return 0;
  const std::vector<uint8_t>& frame = g_frames.front();
  std::memcpy(buffer, frame.data(), frame.size());
  if (size) *size = static_cast<uint32_t>(frame.size());
  g_frames.pop_front();
  return 1;
}

void ZoNet_ShutDown() {
  std::vector<std::shared_ptr<Connection>> all;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_current) all.push_back(g_current);
    g_current.reset();
    for (auto& c : g_retired) all.push_back(c);
    g_retired.clear();
    g_frames.clear();
  }
  for (auto& conn : all) {
    conn->superseded = true;
    if (conn->fd >= 0) shutdown(conn->fd, SHUT_RDWR);
  }
  // A reader blocked in its callback is released once the dialog's loop has ended.
  for (auto& conn : all) {
    if (conn->reader.joinable()) conn->reader.join();
    if (conn->fd >= 0) close(conn->fd);
  }
  uint64_t drained;
  ssize_t n = read(AbortFd(), &drained, sizeof drained);  // a later start-up may connect again
  (void)n;
}

void ZoNet_Abort() {
  uint64_t one = 1;
  ssize_t n = write(AbortFd(), &one, sizeof one);
  (void)n;  // a full counter is still readable
}

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/socket.h"

namespace platform {
namespace {

// Cancel's wake-up: a pipe that holds a byte from CancelSocketWaits until the reset, so that every
// wait below sees it readable.
struct CancelPipe {
  int fds[2] = {-1, -1};
  CancelPipe() {
    if (pipe(fds) != 0) return;
    for (int fd : fds) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
  }
};

const CancelPipe& Cancel() {
  static const CancelPipe pipe;
  return pipe;
}

enum class Wait { kReady, kTimedOut, kCancelled };

// Waits until `fd` has one of `events`, the deadline passes or the waits are cancelled.
Wait WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Wait::kTimedOut;
    pollfd p[2] = {{fd, events, 0}, {Cancel().fds[0], POLLIN, 0}};
    int n = poll(p, 2, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (p[1].revents & POLLIN)) return Wait::kCancelled;
    if (n > 0) return Wait::kReady;
  }
}

// A non-blocking connect to one address, finished within the deadline.
bool ConnectOne(int fd, const addrinfo& ai, std::chrono::steady_clock::time_point deadline) {
  int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int rc = connect(fd, ai.ai_addr, ai.ai_addrlen);
  if (rc != 0 && errno == EINPROGRESS) {
    int err = 0;
    socklen_t len = sizeof err;
    if (WaitFor(fd, POLLOUT, deadline) == Wait::kReady && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 &&
        err == 0)
      rc = 0;
  }
  fcntl(fd, F_SETFL, flags);
  return rc == 0;
}

}  // namespace

void CancelSocketWaits() {
  char one = 1;
  ssize_t n = write(Cancel().fds[1], &one, 1);
  (void)n;  // a full pipe is still readable
}

void ResetSocketCancel() {
  char drained[64];
  while (read(Cancel().fds[0], drained, sizeof drained) > 0) {
  }
}

bool SocketWaitsCancelled() {
  pollfd p{Cancel().fds[0], POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

struct TcpSocket::Native {
  int fd = -1;
};

TcpSocket::TcpSocket() : m_native(std::make_unique<Native>()) {}

TcpSocket::~TcpSocket() { Close(); }

bool TcpSocket::IsOpen() const { return m_native->fd >= 0; }

bool TcpSocket::Connect(const char* host, uint16_t port, std::chrono::milliseconds timeout, int sendBufferBytes) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  if (!host || getaddrinfo(host, service.c_str(), &hints, &list) != 0) return false;
  for (addrinfo* ai = list; ai && m_native->fd < 0 && !SocketWaitsCancelled(); ai = ai->ai_next) {
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    if (!ConnectOne(fd, *ai, std::chrono::steady_clock::now() + timeout)) {
      close(fd);
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBufferBytes, sizeof sendBufferBytes);
    m_native->fd = fd;
  }
  freeaddrinfo(list);
  return m_native->fd >= 0;
}

bool TcpSocket::ReceiveAll(void* buffer, size_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t done = 0; done < count;) {
    ssize_t n = recv(m_native->fd, out + done, count - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

size_t TcpSocket::ReceiveSome(void* buffer, size_t capacity) {
  for (;;) {
    ssize_t n = recv(m_native->fd, buffer, capacity, 0);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? static_cast<size_t>(n) : 0;
  }
}

SendResult TcpSocket::SendAll(const void* data, size_t count, std::chrono::steady_clock::time_point deadline) {
  const auto* in = static_cast<const uint8_t*>(data);
  for (size_t done = 0; done < count;) {
    // Without MSG_NOSIGNAL a peer that has gone would end the whole process.
    ssize_t n = send(m_native->fd, in + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return SendResult::kFailed;
    switch (WaitFor(m_native->fd, POLLOUT, deadline)) {
      case Wait::kReady:
        continue;
      case Wait::kTimedOut:
        return SendResult::kTimedOut;
      case Wait::kCancelled:
        return SendResult::kCancelled;
    }
  }
  return SendResult::kSent;
}

void TcpSocket::ShutDown() {
  if (m_native->fd >= 0) shutdown(m_native->fd, SHUT_RDWR);
}

void TcpSocket::Close() {
  if (m_native->fd >= 0) close(m_native->fd);
  m_native->fd = -1;
}

}  // namespace platform

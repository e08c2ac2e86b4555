#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <string>

#include "platform/socket.h"
#include "platform/winsock_win32.h"

namespace platform {
namespace {

// Winsock's select cannot wait on an event next to a socket, so waits look at the cancel flag and
// the socket's own shut-down between slices this long: well inside the second Cancel is given.
constexpr long kSliceMs = 50;

std::atomic<bool> g_cancelled{false};

enum class Wait { kReady, kTimedOut, kCancelled, kStopped };
enum class Want { kRead, kWrite, kConnect };

// Waits until `s` is ready, the deadline passes, the waits are cancelled or `stop` is set. A
// failed connect shows as an exception on Windows, not as writable, so it ends the wait too.
Wait WaitFor(SOCKET s, Want want, std::chrono::steady_clock::time_point deadline, const std::atomic<bool>* stop,
             bool cancellable) {
  for (;;) {
    if (cancellable && g_cancelled.load()) return Wait::kCancelled;
    if (stop && stop->load()) return Wait::kStopped;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Wait::kTimedOut;
    long slice = left.count() < kSliceMs ? static_cast<long>(left.count()) : kSliceMs;
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval timeout{0, slice * 1000};
    int n = want == Want::kRead ? select(0, &ready, nullptr, &failed, &timeout)
                                : select(0, nullptr, &ready, &failed, &timeout);
    if (n == SOCKET_ERROR) return Wait::kStopped;
    if (n > 0) return Wait::kReady;
  }
}

bool SetBlocking(SOCKET s, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

bool ConnectOne(SOCKET s, const addrinfo& ai, std::chrono::steady_clock::time_point deadline) {
  if (!SetBlocking(s, false)) return false;
  if (connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen)) == 0) return true;
  if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
  if (WaitFor(s, Want::kConnect, deadline, nullptr, true) != Wait::kReady) return false;
  int err = 0;
  int len = sizeof err;
  return getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) == 0 && err == 0;
}

}  // namespace

bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

void CancelSocketWaits() { g_cancelled = true; }
void ResetSocketCancel() { g_cancelled = false; }
bool SocketWaitsCancelled() { return g_cancelled.load(); }

struct TcpSocket::Native {
  SOCKET s = INVALID_SOCKET;
  std::atomic<bool> shutDown{false};
};

TcpSocket::TcpSocket() : m_native(std::make_unique<Native>()) {}

TcpSocket::~TcpSocket() { Close(); }

bool TcpSocket::IsOpen() const { return m_native->s != INVALID_SOCKET; }

bool TcpSocket::Connect(const char* host, uint16_t port, std::chrono::milliseconds timeout, int sendBufferBytes) {
  Close();
  if (!host || !StartWinsock()) return false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  if (getaddrinfo(host, service.c_str(), &hints, &list) != 0) return false;
  for (addrinfo* ai = list; ai && m_native->s == INVALID_SOCKET && !g_cancelled.load(); ai = ai->ai_next) {
    // Not inherited: a game started later must not hold the connection open.
    SOCKET s = WSASocketW(ai->ai_family, ai->ai_socktype, ai->ai_protocol, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) continue;
    if (!ConnectOne(s, *ai, std::chrono::steady_clock::now() + timeout)) {
      closesocket(s);
      continue;
    }
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBufferBytes), sizeof sendBufferBytes);
    m_native->s = s;  // stays non-blocking: every wait goes through WaitFor
  }
  freeaddrinfo(list);
  return m_native->s != INVALID_SOCKET;
}

bool TcpSocket::ReceiveAll(void* buffer, size_t count) {
  auto* out = static_cast<char*>(buffer);
  const auto forever = std::chrono::steady_clock::time_point::max();
  for (size_t done = 0; done < count;) {
    if (m_native->shutDown.load()) return false;
    int n = recv(m_native->s, out + done, static_cast<int>(count - done), 0);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return false;
    // The reader ends with the connection, not with Cancel, exactly as a blocking read would.
    if (WaitFor(m_native->s, Want::kRead, forever, &m_native->shutDown, false) != Wait::kReady) return false;
  }
  return true;
}

size_t TcpSocket::ReceiveSome(void* buffer, size_t capacity) {
  const auto forever = std::chrono::steady_clock::time_point::max();
  const int most = capacity > (1u << 30) ? (1 << 30) : static_cast<int>(capacity);
  for (;;) {
    if (m_native->shutDown.load()) return 0;
    int n = recv(m_native->s, static_cast<char*>(buffer), most, 0);
    if (n > 0) return static_cast<size_t>(n);
    if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return 0;
    if (WaitFor(m_native->s, Want::kRead, forever, &m_native->shutDown, false) != Wait::kReady) return 0;
  }
}

SendResult TcpSocket::SendAll(const void* data, size_t count, std::chrono::steady_clock::time_point deadline) {
  const auto* in = static_cast<const char*>(data);
  for (size_t done = 0; done < count;) {
    int n = send(m_native->s, in + done, static_cast<int>(count - done), 0);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return SendResult::kFailed;
    switch (WaitFor(m_native->s, Want::kWrite, deadline, &m_native->shutDown, true)) {
      case Wait::kReady:
        continue;
      case Wait::kTimedOut:
        return SendResult::kTimedOut;
      case Wait::kCancelled:
        return SendResult::kCancelled;
      case Wait::kStopped:
        return SendResult::kFailed;
    }
  }
  return SendResult::kSent;
}

void TcpSocket::ShutDown() {
  m_native->shutDown = true;
  if (m_native->s != INVALID_SOCKET) shutdown(m_native->s, SD_BOTH);
}

void TcpSocket::Close() {
  if (m_native->s != INVALID_SOCKET) closesocket(m_native->s);
  m_native->s = INVALID_SOCKET;
  m_native->shutDown = false;
}

}  // namespace platform

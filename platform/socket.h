// TCP connections for the network library: connect with a time-out, whole reads and bounded
// sends, and one process-wide cancel that wakes every wait at once.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

// Makes every socket wait in progress, and every later one, give up at once until
// ResetSocketCancel. Any thread; returns at once.
void CancelSocketWaits();
void ResetSocketCancel();
bool SocketWaitsCancelled();

enum class SendResult { kSent, kTimedOut, kCancelled, kFailed };

class TcpSocket {
 public:
  TcpSocket();
  ~TcpSocket();
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Connects to host:port, trying each address in turn until one answers within `timeout`. The
  // connection sends small writes at once and keeps at most `sendBufferBytes` queued.
  bool Connect(const char* host, uint16_t port, std::chrono::milliseconds timeout, int sendBufferBytes);
  bool IsOpen() const;
  // Fills `buffer` with exactly `count` bytes, waiting as long as it takes; false when the
  // connection ends or fails first, or after ShutDown.
  bool ReceiveAll(void* buffer, size_t count);
  // Takes whatever has arrived, up to `capacity` bytes, waiting for at least one; 0 when the
  // connection ends or fails first, or after ShutDown.
  size_t ReceiveSome(void* buffer, size_t capacity);
  // Hands all bytes to the connection, waiting for room no later than `deadline`.
  SendResult SendAll(const void* data, size_t count, std::chrono::steady_clock::time_point deadline);
  // Ends the connection in both directions and releases a ReceiveAll waiting on another thread.
  // The socket stays allocated until Close or destruction, so that thread never sees a reused one.
  void ShutDown();
  void Close();

 private:
  struct Native;  // the system's socket and whatever its waits need
  std::unique_ptr<Native> m_native;
};

}  // namespace platform

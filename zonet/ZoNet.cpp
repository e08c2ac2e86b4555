// The network library over one TCP connection. A reader thread takes whole frames off the socket,
// queues them and raises one "frame ready" event per frame; the connection's end raises "closed".
#include "zonet/ZoNet.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/Bytes.h"
#include "platform/socket.h"

namespace {

constexpr int kConnectTimeoutMs = 5000;
// The client only ever answers with header-only frames: thousands of them fit, and a peer that stops
// reading fills it within moments rather than after megabytes of automatic growth.
constexpr int kSendBufferBytes = 16 << 10;
// Short enough that a shut-down never waits noticeably for the reader.
constexpr int kDrainPauseMs = 20;

struct Connection {
  platform::TcpSocket socket;
  void* context = nullptr;
  ZoNetCallback callback = nullptr;
  std::atomic<bool> superseded{false};
  std::atomic<bool> ended{false};  // given up by a send: nothing more is read from it
  std::atomic<bool> ignored{false};  // the session is over: what it sends is read and dropped
  std::thread reader;
};

std::mutex g_mutex;  // guards the globals below
std::shared_ptr<Connection> g_current;
std::vector<std::shared_ptr<Connection>> g_retired;  // joined at shut-down, never from their own callback
std::deque<std::vector<uint8_t>> g_frames;
std::mutex g_sendMutex;

std::chrono::steady_clock::time_point ConnectDeadline() {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
}

void Raise(const std::shared_ptr<Connection>& conn, unsigned event) {
  if (!conn->superseded.load() && conn->callback) conn->callback(event, conn->context);
}

// Once the frames no longer count, a server that keeps sending is read in large pieces with a pause
// between them, until the connection ends. Read frame by frame, with a hand-over to the dialog for
// each, a flood kept the worker from its own calls under Wine, where every socket call and every
// wake-up is a request to the one Wine server process. False when the connection was superseded.
bool DrainUntilEnd(Connection& conn) {
  std::vector<uint8_t> sink(64 << 10);
  while (conn.socket.ReceiveSome(sink.data(), sink.size()) > 0) {
    if (conn.superseded.load()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kDrainPauseMs));
  }
  return !conn.superseded.load();
}

void ReaderLoop(std::shared_ptr<Connection> conn) {
  uint8_t frame[ZONET_MAX_FRAME];
  for (;;) {
    if (!conn->socket.ReceiveAll(frame, 2)) break;
    uint32_t length = LoadU16(frame);
    // A length outside the frame's limits means the stream can no longer be trusted.
    if (length < 4 || length > ZONET_MAX_FRAME) break;
    if (!conn->socket.ReceiveAll(frame + 2, length - 2)) break;
    if (conn->superseded.load()) return;
    if (conn->ended.load()) break;
    if (conn->ignored.load()) {
      if (!DrainUntilEnd(*conn)) return;
      break;
    }
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_frames.emplace_back(frame, frame + length);
    }
    Raise(conn, ZONET_EVENT_FRAME_READY);
  }
  Raise(conn, ZONET_EVENT_CLOSED);
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
      g_current->socket.ShutDown();
      g_retired.push_back(g_current);
    }
    g_current = conn;
    g_frames.clear();
  }
  if (!conn->socket.Connect(host, port, std::chrono::milliseconds(kConnectTimeoutMs), kSendBufferBytes)) {
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
  if (!conn || !conn->socket.IsOpen() || !frame || length < 4 || length > ZONET_MAX_FRAME) return 0;
  std::lock_guard<std::mutex> lock(g_sendMutex);
  platform::SendResult sent = conn->socket.SendAll(frame, length, ConnectDeadline());
  // A peer that does not read would hold the sender for ever: end the connection, and the reader
  // reports it as closed.
  if (sent == platform::SendResult::kTimedOut) {
    conn->ended = true;
    conn->socket.ShutDown();
  }
  return sent == platform::SendResult::kSent ? 1 : 0;
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

void ZoNet_IgnoreFrames() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_current) g_current->ignored = true;
  g_frames.clear();
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
    conn->socket.ShutDown();
  }
  // A reader blocked in its callback is released once the dialog's loop has ended.
  for (auto& conn : all) {
    if (conn->reader.joinable()) conn->reader.join();
    conn->socket.Close();
  }
  platform::ResetSocketCancel();  // a later start-up may connect again
}

void ZoNet_Abort() { platform::CancelSocketWaits(); }

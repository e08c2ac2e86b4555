// The dialog's user-interface thread: one queue of messages, handled in order by one thread.
//
// SendMessage from another thread waits until the handler has returned (as the system requires);
// from the loop's own thread it calls the handler directly. Once the loop has ended, messages are
// no longer delivered and SendMessage returns 0 at once, so no sender can hang on a closed window.
#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "app/Messages.h"

class CMessageLoop {
 public:
  using Handler = std::function<LRESULT(uint32_t, WPARAM, LPARAM)>;

  explicit CMessageLoop(Handler handler);

  LRESULT SendMessage(uint32_t message, WPARAM wParam, LPARAM lParam);
  void PostMessage(uint32_t message, WPARAM wParam, LPARAM lParam);
  // Asks the loop to end once the messages ahead of the request have been handled.
  void PostQuitMessage();
  // Asks the loop to end as soon as the handler it runs (if any) returns, ahead of every queued
  // message: a Cancel must not wait behind the queue. Any thread.
  void QuitNow();
  // Runs a function on the loop's thread and waits for it (used by front ends and tests).
  void Invoke(const std::function<void()>& fn);

  // Handles messages on the calling thread until a quit request; then refuses further messages.
  void Run();
  bool IsLoopThread() const;
  bool HasEnded() const;

 private:
  struct Item {
    uint32_t message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::function<void()> call;  // set for Invoke
    bool quit = false;
    bool done = false;
    LRESULT result = 0;
    bool waited = false;
  };
  void Enqueue(const std::shared_ptr<Item>& item, bool first = false);

  Handler m_handler;
  mutable std::mutex m_mutex;
  std::condition_variable m_queueReady;
  std::condition_variable m_itemDone;
  std::deque<std::shared_ptr<Item>> m_queue;
  std::thread::id m_loopThread;
  bool m_running = false;
  bool m_ended = false;
};

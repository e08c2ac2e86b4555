#include "app/MessageLoop.h"

CMessageLoop::CMessageLoop(Handler handler) : m_handler(std::move(handler)) {}

bool CMessageLoop::IsLoopThread() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_running && m_loopThread == std::this_thread::get_id();
}

bool CMessageLoop::HasEnded() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_ended;
}

void CMessageLoop::Enqueue(const std::shared_ptr<Item>& item, bool first) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended) {
      item->done = true;
      return;
    }
    if (first)
      m_queue.push_front(item);
    else
      m_queue.push_back(item);
  }
  m_queueReady.notify_one();
}

LRESULT CMessageLoop::SendMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (IsLoopThread()) return m_handler(message, wParam, lParam);
  auto item = std::make_shared<Item>();
  item->message = message;
  item->wParam = wParam;
  item->lParam = lParam;
  item->waited = true;
  Enqueue(item);
  std::unique_lock<std::mutex> lock(m_mutex);
  m_itemDone.wait(lock, [&] { return item->done; });
  return item->result;
}

void CMessageLoop::PostMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  auto item = std::make_shared<Item>();
  item->message = message;
  item->wParam = wParam;
  item->lParam = lParam;
  Enqueue(item);
}

void CMessageLoop::PostQuitMessage() {
  auto item = std::make_shared<Item>();
  item->quit = true;
  Enqueue(item);
}

void CMessageLoop::QuitNow() {
  auto item = std::make_shared<Item>();
  item->quit = true;
  Enqueue(item, true);
}

void CMessageLoop::Invoke(const std::function<void()>& fn) {
  if (IsLoopThread()) {
    fn();
    return;
  }
  auto item = std::make_shared<Item>();
  item->call = fn;
  item->waited = true;
  Enqueue(item);
  std::unique_lock<std::mutex> lock(m_mutex);
  m_itemDone.wait(lock, [&] { return item->done; });
}

void CMessageLoop::Run() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_loopThread = std::this_thread::get_id();
    m_running = true;
  }
  for (;;) {
    std::shared_ptr<Item> item;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_queueReady.wait(lock, [&] { return !m_queue.empty(); });
      item = m_queue.front();
      m_queue.pop_front();
    }
    if (item->quit) break;
    LRESULT result = 0;
    if (item->call)
      item->call();
    else
      result = m_handler(item->message, item->wParam, item->lParam);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      item->result = result;
      item->done = true;
    }
    m_itemDone.notify_all();
  }
  // Release every sender still waiting: the window is gone, as SendMessage to a destroyed window.
  std::deque<std::shared_ptr<Item>> left;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
    m_running = false;
    left.swap(m_queue);
    for (auto& item : left) item->done = true;
  }
  m_itemDone.notify_all();
}

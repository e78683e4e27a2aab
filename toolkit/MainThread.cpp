#include "toolkit/MainThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace MainThread {
namespace {

struct TQueue {
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<std::packaged_task<void()>> Calls;
  std::function<void()> WakeUp;
};

TQueue& Queue() {
  static TQueue queue;
  return queue;
}

std::atomic<std::thread::id>& BoundId() {
  static std::atomic<std::thread::id> id{std::this_thread::get_id()};
  return id;
}

// Static initialisation runs on the process's main thread.
[[maybe_unused]] const bool BoundAtStart = (BoundId().load(), true);

}  // namespace

void Bind() { BoundId().store(std::this_thread::get_id()); }

std::thread::id Id() { return BoundId().load(); }

bool IsMainThread() { return std::this_thread::get_id() == Id(); }

std::future<void> Post(std::function<void()> fn) {
  std::packaged_task<void()> task(std::move(fn));
  std::future<void> result = task.get_future();
  std::function<void()> wakeUp;
  {
    std::lock_guard lock(Queue().Lock);
    Queue().Calls.push_back(std::move(task));
    wakeUp = Queue().WakeUp;
  }
  Queue().Changed.notify_all();
  if (wakeUp) wakeUp();
  return result;
}

void Send(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  Post(fn).get();
}

bool ServePending() {
  if (!IsMainThread()) return false;
  bool any = false;
  for (;;) {
    std::packaged_task<void()> task;
    {
      std::lock_guard lock(Queue().Lock);
      if (Queue().Calls.empty()) break;
      task = std::move(Queue().Calls.front());
      Queue().Calls.pop_front();
    }
    task();  // exceptions go into the caller's future
    any = true;
  }
  return any;
}

void SetWakeUp(std::function<void()> wakeUp) {
  std::lock_guard lock(Queue().Lock);
  Queue().WakeUp = std::move(wakeUp);
}

void WaitUntil(const std::function<bool()>& done) {
  const bool serve = IsMainThread();
  std::unique_lock lock(Queue().Lock);
  for (;;) {
    Queue().Changed.wait(lock, [&] { return done() || (serve && !Queue().Calls.empty()); });
    if (done()) return;
    lock.unlock();
    ServePending();
    lock.lock();
  }
}

void Notify() {
  { std::lock_guard lock(Queue().Lock); }
  Queue().Changed.notify_all();
}

}  // namespace MainThread

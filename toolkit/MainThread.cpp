#include "toolkit/MainThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

namespace MainThread {
namespace {

struct TQueue {
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<std::function<void()>> Calls;
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

void Enqueue(std::function<void()> call) {
  std::function<void()> wakeUp;
  {
    std::lock_guard lock(Queue().Lock);
    Queue().Calls.push_back(std::move(call));
    wakeUp = Queue().WakeUp;
  }
  Queue().Changed.notify_all();
  if (wakeUp) wakeUp();
}

}  // namespace

void Bind() { BoundId().store(std::this_thread::get_id()); }

std::thread::id Id() { return BoundId().load(); }

bool IsMainThread() { return std::this_thread::get_id() == Id(); }

std::future<void> Post(std::function<void()> fn) {
  auto task = std::make_shared<std::packaged_task<void()>>(std::move(fn));
  std::future<void> result = task->get_future();
  Enqueue([task] { (*task)(); });
  return result;
}

void Send(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  // The failure travels back under the queue's lock, and the main thread keeps no reference
  // to it once it has handed it over: the exception object then ends on this thread only.
  struct TCall {
    std::exception_ptr Error;
    bool Done = false;
  } call;
  Enqueue([&call, &fn] {
    std::exception_ptr error;
    try {
      fn();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard lock(Queue().Lock);
    call.Error = std::move(error);
    call.Done = true;
  });
  WaitUntil([&call] { return call.Done; });
  std::exception_ptr error;
  {
    std::lock_guard lock(Queue().Lock);
    error = std::move(call.Error);
  }
  if (error) std::rethrow_exception(error);
}

bool ServePending() {
  if (!IsMainThread()) return false;
  bool any = false;
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard lock(Queue().Lock);
      if (Queue().Calls.empty()) break;
      call = std::move(Queue().Calls.front());
      Queue().Calls.pop_front();
    }
    call();  // a call's own failure travels back to its caller, never out of here
    call = nullptr;
    Queue().Changed.notify_all();
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

bool WaitUntil(const std::function<bool()>& done,
               std::chrono::steady_clock::time_point deadline) {
  const bool serve = IsMainThread();
  std::unique_lock lock(Queue().Lock);
  for (;;) {
    Queue().Changed.wait_until(
        lock, deadline, [&] { return done() || (serve && !Queue().Calls.empty()); });
    if (done()) return true;
    if (!serve || Queue().Calls.empty()) return false;  // the deadline passed
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

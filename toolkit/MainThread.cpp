#include "toolkit/MainThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

namespace MainThread {
namespace {

// A Send's call: the caller waits on its own stack frame until Done.
struct TSendCall {
  const std::function<void()>* Fn = nullptr;
  std::exception_ptr Error;
  bool Done = false;
};

// Either a posted call (its packaged task carries its own failure) or a Send's call.
struct TItem {
  std::function<void()> Posted;
  TSendCall* Sent = nullptr;
};

struct TQueue {
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<TItem> Calls;
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

void Enqueue(TItem item) {
  std::function<void()> wakeUp;
  {
    std::lock_guard lock(Queue().Lock);
    Queue().Calls.push_back(std::move(item));
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
  Enqueue(TItem{[task] { (*task)(); }, nullptr});
  return result;
}

void Send(const std::function<void()>& fn, const std::function<void()>& meanwhile) {
  if (IsMainThread()) {
    if (meanwhile) meanwhile();
    fn();
    return;
  }
  // The failure travels back under the queue's lock, and the main thread keeps no reference
  // to it once it has handed it over: the exception object then ends on this thread only.
  TSendCall call;
  call.Fn = &fn;
  Enqueue(TItem{{}, &call});
  if (meanwhile) [&meanwhile]() noexcept { meanwhile(); }();
  std::exception_ptr error;
  {
    std::unique_lock lock(Queue().Lock);
    Queue().Changed.wait(lock, [&call] { return call.Done; });
    error = std::move(call.Error);
  }
  if (error) std::rethrow_exception(error);
}

bool ServePending() {
  if (!IsMainThread()) return false;
  std::unique_lock lock(Queue().Lock);
  if (Queue().Calls.empty()) return false;
  for (;;) {
    TItem item = std::move(Queue().Calls.front());
    Queue().Calls.pop_front();
    lock.unlock();
    std::exception_ptr error;
    if (item.Sent) {
      try {
        (*item.Sent->Fn)();
      } catch (...) {
        error = std::current_exception();
      }
    } else {
      item.Posted();  // a posted call's failure travels back in its future
      item.Posted = nullptr;
    }
    // One lock both hands the result back and looks for more work, so the woken caller
    // never finds the lock held by this thread.
    lock.lock();
    if (item.Sent) {
      item.Sent->Error = std::move(error);
      item.Sent->Done = true;
    }
    const bool more = !Queue().Calls.empty();
    lock.unlock();
    Queue().Changed.notify_all();
    if (!more) return true;
    lock.lock();
    if (Queue().Calls.empty()) return true;
  }
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

#pragma once
// A counting semaphore over a mutex and a condition variable. The tests count hand-overs with
// it rather than std::counting_semaphore, whose libstdc++ 12 build for Windows now and then
// loses a release (seen under Wine: a worker never woke for a unit already given).
#include <chrono>
#include <condition_variable>
#include <mutex>

class TCountingSignal {
 public:
  explicit TCountingSignal(int count = 0) : FCount(count) {}
  void release() {
    {
      std::lock_guard lock(FLock);
      ++FCount;
    }
    FChanged.notify_all();
  }
  void acquire() {
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [this] { return FCount > 0; });
    --FCount;
  }
  template <class Rep, class Period>
  bool try_acquire_for(std::chrono::duration<Rep, Period> within) {
    std::unique_lock lock(FLock);
    if (!FChanged.wait_for(lock, within, [this] { return FCount > 0; })) return false;
    --FCount;
    return true;
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  int FCount;
};

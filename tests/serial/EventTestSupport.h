#pragma once
// Helpers shared by the event-thread tests: a handler sink that records what ran and where,
// and a main-thread wait with a watchdog so a fault fails the test instead of hanging it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComPort.h"
#include "toolkit/MainThread.h"

namespace eventtest {

// Serves hand-overs on the main thread until done() holds or the time is up.
inline bool ServeUntil(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  std::atomic<bool> expired{false};
  std::mutex lock;
  std::condition_variable stop;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock guard(lock);
    if (!stop.wait_for(guard, limit, [&] { return finished; })) {
      expired = true;
      MainThread::Notify();
    }
  });
  MainThread::WaitUntil([&] { return expired.load() || done(); });
  {
    std::lock_guard guard(lock);
    finished = true;
  }
  stop.notify_all();
  watchdog.join();
  return done();
}

// Records the handlers called, in order, with the thread each ran on.
class TSink : public TObject {
 public:
  void Break(TObject*) { Note("Break"); }
  void CTSChange(TObject*) { Note("CTSChange"); }
  void DSRChange(TObject*) { Note("DSRChange"); }
  void LineError(TObject*, TLineErrors errors) {
    {
      std::lock_guard guard(FLock);
      FLineErrors = errors;
    }
    Note("LineError");
  }
  void Event1(TObject*) { Note("Event1"); }
  void Event2(TObject*) { Note("Event2"); }
  void PrinterError(TObject*) { Note("PrinterError"); }
  void Ring(TObject*) { Note("Ring"); }
  void RLSDChange(TObject*) { Note("RLSDChange"); }
  void Rx80PercFull(TObject*) { Note("Rx80PercFull"); }
  void RxChar(TObject*) {
    Note("RxChar");
    if (FOnRxChar) FOnRxChar();
  }
  void RxFlag(TObject*) { Note("RxFlag"); }
  void TxEmpty(TObject*) { Note("TxEmpty"); }
  void Fails(TObject*) {
    Note("Fails");
    throw Exception("Handler failed");
  }

  std::vector<std::string> Calls() {
    std::lock_guard guard(FLock);
    return FCalls;
  }
  std::size_t Count() {
    std::lock_guard guard(FLock);
    return FCalls.size();
  }
  std::vector<std::thread::id> Threads() {
    std::lock_guard guard(FLock);
    return FThreads;
  }
  TLineErrors LastLineErrors() {
    std::lock_guard guard(FLock);
    return FLineErrors;
  }
  // Extra work done inside OnRxChar (set before the port is opened).
  std::function<void()> FOnRxChar;

 private:
  void Note(const char* name) {
    {
      std::lock_guard guard(FLock);
      FCalls.emplace_back(name);
      FThreads.push_back(std::this_thread::get_id());
    }
    MainThread::Notify();  // handlers on the event thread wake the main thread's wait
  }
  std::mutex FLock;
  std::vector<std::string> FCalls;
  std::vector<std::thread::id> FThreads;
  TLineErrors FLineErrors;
};

}  // namespace eventtest

#pragma once
// Ctrl+C and termination requests of a command-line program, handed to one callback on a
// thread other than the main one, so that no handler runs inside a lock.
#include <functional>
#include <memory>

class TStopSignal {
 public:
  // Construct first in main, before any other thread starts.
  TStopSignal();
  ~TStopSignal();  // Unwatch
  TStopSignal(const TStopSignal&) = delete;
  TStopSignal& operator=(const TStopSignal&) = delete;
  void Watch(std::function<void()> onStop);
  // Ends the watch; the callback is not called afterwards. Call it before what the callback
  // touches goes away.
  void Unwatch();

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

#pragma once
// SIGINT and SIGTERM for the command-line programs: a thread of its own takes them with
// sigwait, so no handler ever runs inside a lock, and the main thread hears of it through
// MainThread::Notify. Build it first in main, before any other thread starts, so that every
// thread inherits the blocked signals. On Windows, Ctrl+C, Ctrl+Break and closing the console
// count as SIGINT and SIGTERM (StopSignalsWin32.cpp).
#include <atomic>
#include <memory>

class TStopSignals {
 public:
  TStopSignals();
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  bool Requested() const noexcept { return FRequested.load(); }
  // The signal that asked to stop, 0 while none did.
  int Signal() const noexcept { return FSignal.load(); }

 private:
  struct TWatch;  // the system's side
  void Raise(int signal) noexcept;
  std::atomic<bool> FRequested{false};
  std::atomic<bool> FEnding{false};
  std::atomic<int> FSignal{0};
  std::unique_ptr<TWatch> FWatch;
};

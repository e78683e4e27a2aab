#pragma once
// The port's event thread: waits for line events on the open device and has them dispatched.
#include "toolkit/Thread.h"

class TCustomComPort;

class TComThread : public TThread {
 public:
  // Returns only once the new thread has parked itself. Throws std::system_error when the
  // thread cannot be created.
  explicit TComThread(TCustomComPort& port);
  ~TComThread() override;

  TCustomComPort& Port() const noexcept { return FPort; }
  bool Started() const noexcept { return FStarted; }

  // The safe point of one cycle, for the port's wait: parks when parking was requested.
  // Returns false once the stop flag is set.
  bool ParkPoint() { return TThread::ParkPoint(); }

  // The event thread running on the calling thread, or null on any other thread. The wait
  // uses this rather than the port's field, which close clears while the thread still ends.
  static TComThread* Current() noexcept;

 protected:
  void Execute() override;

 private:
  TCustomComPort& FPort;
  bool FStarted = false;
};

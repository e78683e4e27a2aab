#pragma once
// A thread object with a stop flag, parking and releasing, priority and hand-over of calls to
// the main thread. The OS thread is never suspended from outside: parking is a request that
// the thread honours at its own safe points (ParkPoint), so it is never stopped while holding
// a lock, and a release that comes before the thread reaches its safe point cancels the park.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class TThread {
 public:
  TThread() = default;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  // Sets the stop flag, releases a parked thread and waits for its end (see WaitFor).
  virtual ~TThread();

  // Starts the OS thread running Execute. Throws std::system_error when it cannot be created.
  void Start();

  void Terminate() noexcept { FTerminated.store(true); }
  bool Terminated() const noexcept { return FTerminated.load(); }
  bool Finished() const noexcept { return FFinished.load(); }

  // Asks the thread to park at its next safe point. From any thread.
  void RequestPark();
  // Ends a park or cancels a request that has not taken effect yet. From any thread.
  void Release();
  // True while the thread really is parked.
  bool Parked() const;
  // True from RequestPark until Release: the thread is parked or will park at its next safe point.
  bool ParkRequested() const;
  // Blocks until the thread is parked or has ended.
  void WaitUntilParked();

  // The highest priority an ordinary thread has: normal time-sharing scheduling (never a
  // real-time class, even where the process could take one) at the lowest nice value the
  // process may take without privileges (RLIMIT_NICE), or its present one. Call once the
  // thread runs Execute.
  void SetTimeCritical() noexcept;
  // The OS thread, for inspection.
  std::thread::native_handle_type NativeHandle() { return FThread.native_handle(); }

  // Runs fn on the main thread and blocks until it has run; fn's exception is rethrown here.
  // meanwhile (which must not throw) runs on this thread while the main thread is woken.
  static void Synchronize(const std::function<void()>& fn,
                          const std::function<void()>& meanwhile = {});

  // Waits for the thread's end. On the main thread hand-overs are served meanwhile, so a thread
  // blocked in Synchronize can still finish.
  void WaitFor();

 protected:
  virtual void Execute() = 0;
  // End-of-thread notification, on the thread, after Execute.
  virtual void DoTerminate() {}

  // Called by the thread itself: parks now until released (or stopped).
  void Park();
  // Called by the thread itself at a safe point: parks if a park was requested. Returns
  // false when the stop flag is set.
  bool ParkPoint();

  // Stop protocol used by destructors of derived classes, before their own members go away.
  void StopAndWait();

 private:
  void Run();

  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  bool FParkRequested = false;
  bool FParked = false;
  int FSystemId = 0;  // the kernel's id of the running thread, 0 before it runs
};

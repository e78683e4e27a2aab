#include "toolkit/Thread.h"

#include "toolkit/MainThread.h"
#include "toolkit/ThreadPriority.h"

TThread::~TThread() { StopAndWait(); }

void TThread::Start() {
  FThread = std::thread([this] { Run(); });
}

void TThread::Run() {
  {
    std::lock_guard lock(FLock);
    FSystemId = ThreadPriority::CurrentSystemId();
  }
  try {
    Execute();
  } catch (...) {
    // A body that escapes with an error ends the thread like a normal end.
  }
  DoTerminate();
  {
    std::lock_guard lock(FLock);
    FFinished.store(true);
  }
  FChanged.notify_all();
  MainThread::Notify();
}

void TThread::RequestPark() {
  std::lock_guard lock(FLock);
  FParkRequested = true;
}

void TThread::Release() {
  {
    std::lock_guard lock(FLock);
    FParkRequested = false;
  }
  FChanged.notify_all();
}

bool TThread::Parked() const {
  std::lock_guard lock(FLock);
  return FParked;
}

bool TThread::ParkRequested() const {
  std::lock_guard lock(FLock);
  return FParkRequested;
}

void TThread::WaitUntilParked() {
  std::unique_lock lock(FLock);
  FChanged.wait(lock, [this] { return FParked || FFinished.load(); });
}

void TThread::Park() {
  {
    std::lock_guard lock(FLock);
    FParkRequested = true;
  }
  ParkPoint();
}

bool TThread::ParkPoint() {
  std::unique_lock lock(FLock);
  if (FParkRequested && !Terminated()) {
    FParked = true;
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return !FParkRequested; });
    FParked = false;
    FChanged.notify_all();
  }
  return !Terminated();
}

void TThread::SetTimeCritical() noexcept {
  if (!FThread.joinable()) return;
  int id = 0;
  {
    std::lock_guard lock(FLock);
    id = FSystemId;
  }
  ThreadPriority::RaiseToTimeCritical(FThread.native_handle(), id);
}

void TThread::Synchronize(const std::function<void()>& fn,
                          const std::function<void()>& meanwhile) {
  MainThread::Send(fn, meanwhile);
}

void TThread::WaitFor() {
  if (!FThread.joinable()) return;
  if (FThread.get_id() == std::this_thread::get_id()) {  // a thread never joins itself
    FThread.detach();
    return;
  }
  MainThread::WaitUntil([this] { return FFinished.load(); });
  FThread.join();
}

void TThread::StopAndWait() {
  Terminate();
  Release();
  WaitFor();
}

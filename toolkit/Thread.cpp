#include "toolkit/Thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "toolkit/MainThread.h"

TThread::~TThread() { StopAndWait(); }

void TThread::Start() {
  FThread = std::thread([this] { Run(); });
}

void TThread::Run() {
  {
    std::lock_guard lock(FLock);
    FSystemId = static_cast<int>(::gettid());
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
  sched_param param{};
  param.sched_priority = 0;
  // A real-time class lets one busy thread freeze a core; the time-sharing class never does.
  (void)pthread_setschedparam(FThread.native_handle(), SCHED_OTHER, &param);
  int id = 0;
  {
    std::lock_guard lock(FLock);
    id = FSystemId;
  }
  rlimit limit{};
  if (id == 0 || getrlimit(RLIMIT_NICE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
  // RLIMIT_NICE allows nice values down to 20 - limit without privileges.
  const int lowest = 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40));
  errno = 0;
  const int present = getpriority(PRIO_PROCESS, static_cast<id_t>(id));
  if (errno == 0 && lowest < present) (void)setpriority(PRIO_PROCESS, static_cast<id_t>(id), lowest);
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

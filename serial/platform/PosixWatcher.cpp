#include "serial/platform/PosixWatcher.h"

#include <cerrno>
#include <chrono>
#include <system_error>

namespace platform {

TPosixWatcher::TPosixWatcher(ILineDriver& driver, std::function<bool()> call,
                             std::function<void(bool, std::uint64_t)> returned, bool continuous)
    : FDriver(driver),
      FCall(std::move(call)),
      FReturned(std::move(returned)),
      FContinuous(continuous),
      FArmed(continuous) {
  try {
    FThread = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    errno = e.code().value();
  }
}

TPosixWatcher::~TPosixWatcher() { Stop(); }

void TPosixWatcher::Arm(std::uint64_t ticket) {
  {
    std::lock_guard lock(FLock);
    FArmed = true;
    FTicket = ticket;
  }
  FChanged.notify_all();
}

void TPosixWatcher::Stop() {
  if (!FThread.joinable()) return;
  std::unique_lock lock(FLock);
  FStop = true;
  FChanged.notify_all();
  // The interrupt can land just before the call starts; it is sent again until the thread ends.
  while (!FEnded) {
    FDriver.Interrupt(FThread.native_handle());
    FChanged.wait_for(lock, std::chrono::milliseconds(20), [this] { return FEnded; });
  }
  lock.unlock();
  FThread.join();
}

void TPosixWatcher::Run() {
  std::unique_lock lock(FLock);
  for (;;) {
    FChanged.wait(lock, [this] { return FStop || FArmed; });
    if (FStop) break;
    const std::uint64_t ticket = FTicket;
    if (!FContinuous) FArmed = false;
    lock.unlock();
    const bool ok = FCall();
    const int error = errno;
    lock.lock();
    if (FStop) break;
    if (!ok && error == EINTR) {
      FArmed = true;  // interrupted by a stray signal: call again
      continue;
    }
    lock.unlock();
    FReturned(ok, ticket);
    lock.lock();
    if (!ok) FArmed = false;  // the driver cannot: never loop on it
    if (!ok && FContinuous) break;
  }
  FEnded = true;
  FChanged.notify_all();
}

}  // namespace platform

#include "serial/platform/ManualEvent.h"

namespace platform {

void TManualEvent::Set() {
  std::lock_guard lock(FLock);
  FSignalled = true;
  FChanged.notify_all();
}

bool TManualEvent::Reset() {
  std::lock_guard lock(FLock);
  FSignalled = false;
  return true;
}

bool TManualEvent::IsSet() {
  std::lock_guard lock(FLock);
  return FSignalled;
}

void TManualEvent::Wait() {
  std::unique_lock lock(FLock);
  FChanged.wait(lock, [this] { return FSignalled; });
}

}  // namespace platform

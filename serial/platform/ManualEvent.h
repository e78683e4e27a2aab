#pragma once
// Manual-reset completion signal shared by both backends.
#include <condition_variable>
#include <mutex>

#include "serial/platform/Platform.h"

namespace platform {

class TManualEvent : public IEvent {
 public:
  explicit TManualEvent(bool signalled = true) : FSignalled(signalled) {}
  void Set() override;
  bool Reset() override;
  bool IsSet() override;
  void Wait();

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FSignalled;
};

}  // namespace platform

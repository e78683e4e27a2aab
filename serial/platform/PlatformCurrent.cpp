#include <atomic>

#include "serial/platform/Platform.h"
#include "serial/platform/NativePlatform.h"

namespace platform {
namespace {

std::atomic<IPlatform*> installed{nullptr};

}  // namespace

IPlatform& Current() {
  IPlatform* backend = installed.load(std::memory_order_acquire);
  return backend ? *backend : NativePlatform();
}

IPlatform* Install(IPlatform* backend) {
  IPlatform* previous = installed.exchange(backend, std::memory_order_acq_rel);
  return previous ? previous : &NativePlatform();
}

}  // namespace platform

#include <atomic>

#include "serial/platform/Platform.h"
#include "serial/platform/PosixPlatform.h"

namespace platform {
namespace {

IPlatform& Native() {
  static TPosixPlatform native;
  return native;
}

std::atomic<IPlatform*> installed{nullptr};

}  // namespace

IPlatform& Current() {
  IPlatform* backend = installed.load(std::memory_order_acquire);
  return backend ? *backend : Native();
}

IPlatform* Install(IPlatform* backend) {
  IPlatform* previous = installed.exchange(backend, std::memory_order_acq_rel);
  return previous ? previous : &Native();
}

}  // namespace platform

#include "serial/platform/VirtualPlatform.h"

#include <cerrno>

#include "serial/platform/LastFailure.h"
#include "serial/platform/ManualEvent.h"
#include "serial/platform/ErrnoText.h"
#include "serial/platform/NativePlatform.h"
#include "serial/platform/VirtualDevice.h"

namespace platform {
namespace {

// Counts itself so that tests can tell no event object is left behind.
class TCountedEvent : public TManualEvent {
 public:
  explicit TCountedEvent(std::shared_ptr<std::atomic<int>> live)
      : TManualEvent(true), FLive(std::move(live)) {
    ++*FLive;
  }
  ~TCountedEvent() override { --*FLive; }

 private:
  std::shared_ptr<std::atomic<int>> FLive;
};

}  // namespace

TVirtualPlatform::TVirtualPlatform(IPlatform* fallback)
    : FFallback(fallback ? *fallback : NativePlatform()) {}

std::shared_ptr<TVirtualLine> TVirtualPlatform::AddDevice(const std::string& name) {
  std::lock_guard lock(FLock);
  auto& line = FLines[name];
  if (!line) line = std::make_shared<TVirtualLine>(name);
  return line;
}

std::shared_ptr<TVirtualLine> TVirtualPlatform::Device(const std::string& name) const {
  std::lock_guard lock(FLock);
  auto it = FLines.find(name);
  return it == FLines.end() ? nullptr : it->second;
}

void TVirtualPlatform::FailNextCreateEvent(std::int32_t code) {
  std::lock_guard lock(FLock);
  FFailCreateEvent = code;
}

std::int32_t TVirtualPlatform::PriorityClass() const {
  std::lock_guard lock(FLock);
  return FPriorityClass;
}

std::vector<std::int32_t> TVirtualPlatform::PriorityChanges() const {
  std::lock_guard lock(FLock);
  return FPriorityChanges;
}

std::unique_ptr<IDevice> TVirtualPlatform::Open(const std::string& name) {
  std::shared_ptr<TVirtualLine> line = Device(name);
  if (line) return TVirtualDevice::Open(std::move(line));
  if (name.starts_with("virtual:")) {
    errno = ENOENT;
    return nullptr;
  }
  return FFallback.Open(name);
}

std::unique_ptr<IEvent> TVirtualPlatform::CreateEvent() {
  std::lock_guard lock(FLock);
  if (FFailCreateEvent != 0) {
    errno = std::exchange(FFailCreateEvent, 0);
    return nullptr;
  }
  return std::make_unique<TCountedEvent>(FLiveEvents);
}

std::int32_t TVirtualPlatform::GetPriorityClass() {
  std::lock_guard lock(FLock);
  return FPriorityClass;
}

void TVirtualPlatform::SetPriorityClass(std::int32_t priorityClass) {
  std::lock_guard lock(FLock);
  FPriorityClass = priorityClass;
  FPriorityChanges.push_back(priorityClass);
}

// errno, like the native backend, so that both agree on codes and texts.
std::int32_t TVirtualPlatform::GetLastError() { return errno; }

void TVirtualPlatform::SetLastError(std::int32_t code) {
  ForgetRefusal();
  errno = code;
}

std::string TVirtualPlatform::ErrorText(std::int32_t code) { return ErrnoText(code); }

// Native devices opened through the fallback record their refusals the same way.
std::string TVirtualPlatform::LastErrorText(std::int32_t code) {
  std::string text = RefusalText(code);
  return text.empty() ? ErrnoText(code) : text;
}

bool TVirtualPlatform::IsDeviceGone(std::int32_t code) { return ErrnoDeviceGone(code); }

}  // namespace platform

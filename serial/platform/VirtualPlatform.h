#pragma once
// A backend of scriptable in-process lines for tests; names it does not hold go to another
// backend (the native one unless told otherwise).
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/platform/Platform.h"
#include "serial/platform/VirtualLine.h"

namespace platform {

class TVirtualPlatform : public IPlatform {
 public:
  explicit TVirtualPlatform(IPlatform* fallback = nullptr);

  // A line opened by this name; the test keeps the returned end.
  std::shared_ptr<TVirtualLine> AddDevice(const std::string& name);
  std::shared_ptr<TVirtualLine> Device(const std::string& name) const;

  // The next CreateEvent fails with code.
  void FailNextCreateEvent(std::int32_t code);
  // Event objects created by this backend and not yet destroyed.
  int LiveEvents() const { return FLiveEvents->load(); }
  // The process priority class, only recorded; every class set, oldest first.
  std::int32_t PriorityClass() const;
  std::vector<std::int32_t> PriorityChanges() const;

  std::unique_ptr<IDevice> Open(const std::string& name) override;
  std::unique_ptr<IEvent> CreateEvent() override;
  std::int32_t GetPriorityClass() override;
  void SetPriorityClass(std::int32_t priorityClass) override;
  std::int32_t GetLastError() override;
  void SetLastError(std::int32_t code) override;
  std::string ErrorText(std::int32_t code) override;
  std::string LastErrorText(std::int32_t code) override;
  bool IsDeviceGone(std::int32_t code) override;

 private:
  IPlatform& FFallback;
  mutable std::mutex FLock;
  std::map<std::string, std::shared_ptr<TVirtualLine>> FLines;
  std::int32_t FFailCreateEvent = 0;
  std::int32_t FPriorityClass = NormalPriorityClass;
  std::vector<std::int32_t> FPriorityChanges;
  std::shared_ptr<std::atomic<int>> FLiveEvents = std::make_shared<std::atomic<int>>(0);
};

}  // namespace platform

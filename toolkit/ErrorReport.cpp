#include "toolkit/ErrorReport.h"

#include <cstdio>
#include <mutex>

#include "toolkit/MainThread.h"

namespace {

// Handlers may run on the event thread, so the hooks are read under a lock.
std::mutex HooksLock;
std::function<void(const Exception&)> ErrorHook;
std::function<void()> MessagesHook;

}  // namespace

void ReportException(const Exception& e) {
  if (dynamic_cast<const EAbort*>(&e) != nullptr) return;
  std::function<void(const Exception&)> hook;
  {
    std::lock_guard lock(HooksLock);
    hook = ErrorHook;
  }
  if (hook) {
    hook(e);
  } else {
    std::fprintf(stderr, "%s\n", e.Message().c_str());
  }
}

void SetErrorReportHook(std::function<void(const Exception&)> hook) {
  std::lock_guard lock(HooksLock);
  ErrorHook = std::move(hook);
}

void ProcessPendingMessages() {
  std::function<void()> hook;
  {
    std::lock_guard lock(HooksLock);
    hook = MessagesHook;
  }
  if (hook) {
    hook();
  } else {
    MainThread::ServePending();
  }
}

void SetProcessMessagesHook(std::function<void()> hook) {
  std::lock_guard lock(HooksLock);
  MessagesHook = std::move(hook);
}

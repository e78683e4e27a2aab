#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <mutex>

#include "tools/StopSignal.h"

namespace {

// The console calls its handlers on a thread of its own; one program has one stop callback.
std::mutex watchLock;
std::function<void()> watchCallback;

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: {
      std::lock_guard lock(watchLock);
      if (watchCallback) watchCallback();
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

struct TStopSignal::TState {};

TStopSignal::TStopSignal() : FState(std::make_unique<TState>()) {}

void TStopSignal::Watch(std::function<void()> onStop) {
  {
    std::lock_guard lock(watchLock);
    watchCallback = std::move(onStop);
  }
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

TStopSignal::~TStopSignal() { Unwatch(); }

void TStopSignal::Unwatch() {
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  std::lock_guard lock(watchLock);
  watchCallback = nullptr;
}

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <csignal>
#include <mutex>

#include "tools/StopSignals.h"

namespace {

// The console calls its handlers on a thread of its own; a program has one watch.
std::mutex watchLock;
TStopSignals* watching = nullptr;

}  // namespace

struct TStopSignals::TWatch {
  static BOOL WINAPI OnConsoleControl(DWORD type) {
    int signal = 0;
    switch (type) {
      case CTRL_C_EVENT:
      case CTRL_BREAK_EVENT:
        signal = SIGINT;
        break;
      case CTRL_CLOSE_EVENT:
        signal = SIGTERM;
        break;
      default:
        return FALSE;
    }
    std::lock_guard lock(watchLock);
    if (watching != nullptr) watching->Raise(signal);
    return TRUE;
  }
};

TStopSignals::TStopSignals() : FWatch(std::make_unique<TWatch>()) {
  {
    std::lock_guard lock(watchLock);
    watching = this;
  }
  ::SetConsoleCtrlHandler(&TWatch::OnConsoleControl, TRUE);
}

TStopSignals::~TStopSignals() {
  FEnding = true;
  ::SetConsoleCtrlHandler(&TWatch::OnConsoleControl, FALSE);
  std::lock_guard lock(watchLock);
  watching = nullptr;
}

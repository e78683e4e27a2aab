#include "tools/StopSignals.h"

#include <pthread.h>

#include "toolkit/MainThread.h"

TStopSignals::TStopSignals() {
  sigemptyset(&FSignals);
  sigaddset(&FSignals, SIGINT);
  sigaddset(&FSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &FSignals, nullptr);
  FThread = std::thread([this] {
    for (;;) {
      int signal = 0;
      if (sigwait(&FSignals, &signal) != 0) continue;
      if (FEnding.load()) return;
      FSignal = signal;
      FRequested = true;
      MainThread::Notify();
    }
  });
}

TStopSignals::~TStopSignals() {
  // Our own SIGTERM only wakes the thread so it can end.
  FEnding = true;
  pthread_kill(FThread.native_handle(), SIGTERM);
  FThread.join();
}

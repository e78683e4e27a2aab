#include <pthread.h>

#include <csignal>
#include <thread>

#include "tools/StopSignals.h"

struct TStopSignals::TWatch {
  sigset_t Signals;
  std::thread Thread;
};

TStopSignals::TStopSignals() : FWatch(std::make_unique<TWatch>()) {
  sigemptyset(&FWatch->Signals);
  sigaddset(&FWatch->Signals, SIGINT);
  sigaddset(&FWatch->Signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &FWatch->Signals, nullptr);
  FWatch->Thread = std::thread([this] {
    for (;;) {
      int signal = 0;
      if (sigwait(&FWatch->Signals, &signal) != 0) continue;
      if (FEnding.load()) return;
      Raise(signal);
    }
  });
}

TStopSignals::~TStopSignals() {
  // Our own SIGTERM only wakes the thread so it can end.
  FEnding = true;
  pthread_kill(FWatch->Thread.native_handle(), SIGTERM);
  FWatch->Thread.join();
}

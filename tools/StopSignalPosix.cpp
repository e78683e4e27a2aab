#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "tools/StopSignal.h"

struct TStopSignal::TState {
  sigset_t Signals;
  std::thread Watcher;
  std::atomic<bool> Ending{false};
};

TStopSignal::TStopSignal() : FState(std::make_unique<TState>()) {
  // Blocked in every thread started later, so only sigwait takes them.
  sigemptyset(&FState->Signals);
  sigaddset(&FState->Signals, SIGINT);
  sigaddset(&FState->Signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &FState->Signals, nullptr);
}

void TStopSignal::Watch(std::function<void()> onStop) {
  FState->Watcher = std::thread([state = FState.get(), onStop = std::move(onStop)] {
    int signal = 0;
    sigwait(&state->Signals, &signal);
    if (signal != 0 && !state->Ending.load()) onStop();
  });
}

TStopSignal::~TStopSignal() { Unwatch(); }

void TStopSignal::Unwatch() {
  if (!FState->Watcher.joinable()) return;
  FState->Ending = true;
  // Wake the watcher so it can end; this SIGTERM is ours, not a request.
  pthread_kill(FState->Watcher.native_handle(), SIGTERM);
  FState->Watcher.join();
}

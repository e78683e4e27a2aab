#include "tools/StopSignals.h"

#include "toolkit/MainThread.h"

void TStopSignals::Raise(int signal) noexcept {
  if (FEnding.load()) return;
  FSignal = signal;
  FRequested = true;
  MainThread::Notify();
}

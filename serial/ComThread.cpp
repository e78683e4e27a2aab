#include "serial/ComThread.h"

#include <new>
#include <system_error>

#include "serial/ComPort.h"
#include "toolkit/ErrorReport.h"

namespace {
thread_local TComThread* CurrentThread = nullptr;
}

TComThread::TComThread(TCustomComPort& port) : FPort(port) {
  Start();
  // The new thread parks itself on its first run; waiting on the thread's condition variable
  // for that replaces polling the parked flag with 1 ms sleeps.
  WaitUntilParked();
  SetTimeCritical();
}

TComThread::~TComThread() { StopAndWait(); }

TComThread* TComThread::Current() noexcept { return CurrentThread; }

void TComThread::Execute() {
  CurrentThread = this;
  if (!FStarted) {
    FStarted = true;
    Park();
  }
  while (!Terminated()) FPort.WaitForEvent();
  CurrentThread = nullptr;
}

void TCustomComPort::StartEventThread() {
  try {
    FEventThread = std::make_unique<TComThread>(*this);
  } catch (const std::system_error&) {
    RaiseError(0, "Can't create thread");
  } catch (const std::bad_alloc&) {
    RaiseError(0, "Can't create thread");
  }
}

void TCustomComPort::StopEventThread() {
  if (!FEventThread) return;
  FEventThread->Terminate();
  if (FHandle) (void)FHandle->SetCommMask(0);  // ends a wait in progress
  if (FEventThread->ParkRequested()) FEventThread->Release();
  // Joined before the field is cleared: a dispatch handed over before the thread saw the stop
  // flag is still served here, with the device open.
  FEventThread->WaitFor();
  FEventThread.reset();
  ProcessPendingMessages();
}

// The line-event mask, one cycle of the event thread, and the dispatch of a wake-up's events.
#include "serial/ComPort.h"
#include "serial/ComThread.h"
#include "toolkit/ErrorReport.h"

using namespace platform;

void TCustomComPort::ApplyEventMask() {
  if (!Configurable()) return;
  std::uint32_t mask = 0;
  {
    std::lock_guard lock(FHandlersLock);
    if (FOnBreak.Assigned()) mask |= EvBreak;
    if (FOnCTSChange.Assigned()) mask |= EvCts;
    if (FOnDSRChange.Assigned()) mask |= EvDsr;
    if (FOnLineError.Assigned()) mask |= EvErr;
    if (FOnEvent1.Assigned()) mask |= EvEvent1;
    if (FOnEvent2.Assigned()) mask |= EvEvent2;
    if (FOnPrinterError.Assigned()) mask |= EvPErr;
    if (FOnRing.Assigned()) mask |= EvRing;
    if (FOnRLSDChange.Assigned()) mask |= EvRlsd;
    if (FOnRx80PercFull.Assigned()) mask |= EvRx80Full;
    if (FOnRxChar.Assigned()) mask |= EvRxChar;
    if (FOnRxFlag.Assigned()) mask |= EvRxFlag;
    if (FOnTxEmpty.Assigned()) mask |= EvTxEmpty;
  }

  // The park is requested before the mask change, so the wait that the change ends is
  // followed by the park, not by another wait.
  if (mask == 0 && FEventThread && !FEventThread->ParkRequested()) FEventThread->RequestPark();
  CheckResult(FHandle->SetCommMask(mask));
  if (mask != 0 && FEventThread && FEventThread->ParkRequested()) FEventThread->Release();
}

void TCustomComPort::WaitForEvent() {
  TComThread* thread = TComThread::Current();
  if (thread == nullptr || !thread->ParkPoint()) return;
  std::uint32_t events = 0;
  // Close may set the stop flag and the empty mask between the check above and the wait's
  // start; only a device whose wait returns at once under an empty mask lets close end then.
  // A failed wait reports nothing: only events the device reported are delivered.
  const bool waited = FHandle->WaitCommEvent(events);
  FEventMask = waited ? events : 0;
  if (thread->Terminated()) return;
  // Parking requested during the wait takes effect before any dispatch.
  if (!thread->ParkPoint()) return;
  if (FEventMask == 0) return;
  if (FSynchronizeEvents) {
    // While the main thread wakes, the device can take what arrives: a read then finds more.
    TThread::Synchronize([this] { DispatchEvents(); },
                         [this] {
                           if (FEventMask & platform::EvRxChar) FHandle->TakeArrivingBytes();
                         });
  } else {
    DispatchEvents();
  }
}

void TCustomComPort::DispatchEvents() {
  // Marks this thread as the dispatching one for as long as its handlers run (see Close).
  struct TDispatching {
    std::atomic<std::thread::id>& Thread;
    std::thread::id Outer;
    explicit TDispatching(std::atomic<std::thread::id>& thread)
        : Thread(thread), Outer(thread.exchange(std::this_thread::get_id())) {}
    ~TDispatching() { Thread.store(Outer); }
  } dispatching(FDispatchingThread);
  // Each handler is read when its turn comes: one removed by an earlier handler is not called.
  auto notify = [this](std::uint32_t bit, const TNotifyEvent& field) {
    if ((FEventMask & bit) == 0) return;
    if (const TNotifyEvent handler = Handler(field); handler.Assigned()) handler(this);
  };
  try {
    notify(EvBreak, FOnBreak);
    notify(EvCts, FOnCTSChange);
    notify(EvDsr, FOnDSRChange);
    if ((FEventMask & EvErr) != 0 && Handler(FOnLineError).Assigned()) {
      const TLineErrors errors = LineErrors();
      if (const TLineErrorEvent handler = Handler(FOnLineError); handler.Assigned())
        handler(this, errors);
    }
    notify(EvEvent1, FOnEvent1);
    notify(EvEvent2, FOnEvent2);
    notify(EvPErr, FOnPrinterError);
    notify(EvRing, FOnRing);
    notify(EvRlsd, FOnRLSDChange);
    notify(EvRx80Full, FOnRx80PercFull);
    notify(EvRxChar, FOnRxChar);
    notify(EvRxFlag, FOnRxFlag);
    notify(EvTxEmpty, FOnTxEmpty);
  } catch (const Exception& e) {
    ReportException(e);
  }
}

// The line-event wait of a terminal device. Each source is a real notification of the system:
// arrivals of bytes (epoll, edge-triggered: one report per arrival, however many bytes stay
// unread), hang-up, modem-line changes (a watcher blocked in TIOCMIWAIT), line errors and
// breaks (the driver's counters, looked at whenever the line wakes the wait), and the end of
// output (a watcher blocked in tcdrain). Nothing is polled on a timer.
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "serial/platform/PosixDevice.h"
#include "serial/platform/PosixPlatform.h"

namespace platform {
namespace {

constexpr std::uint32_t ModemEvents = EvCts | EvDsr | EvRing | EvRlsd;
constexpr std::uint32_t CountedEvents = ModemEvents | EvBreak | EvErr;
constexpr std::size_t DefaultInputSize = 4096;  // the port's own default
// A take of half the terminal's buffer (4 KiB) or more: the sender is streaming.
constexpr std::size_t StreamingTake = 2048;

}  // namespace

bool TPosixDevice::StartEventSources() {
  FPoll = TUniqueFd(::epoll_create1(EPOLL_CLOEXEC));
  if (!FPoll.Valid()) return false;
  epoll_event line{};
  line.events = EPOLLIN | EPOLLET;  // hang-up and errors are always reported
  line.data.fd = FFd.Get();
  epoll_event wake{};
  wake.events = EPOLLIN;
  wake.data.fd = FMaskWake.Get();
  if (::epoll_ctl(FPoll.Get(), EPOLL_CTL_ADD, FFd.Get(), &line) != 0 ||
      ::epoll_ctl(FPoll.Get(), EPOLL_CTL_ADD, FMaskWake.Get(), &wake) != 0)
    return false;
  FDrainWatcher = std::make_unique<TPosixWatcher>(
      *FDriver, [this] { return FDriver->Drain(); },
      [this](bool ok, std::uint64_t ticket) { Drained(ok, ticket); }, false);
  if (!FDrainWatcher->Started()) return false;
  // Only a driver that counts line changes can say which line changed.
  if (FCountsLines) {
    // A change between two waits would be missed by the next one: the counters tell.
    TLineCounts seen;
    FDriver->Counts(seen);
    auto changed = [this, seen]() mutable {
      TLineCounts now;
      if (FDriver->Counts(now) && (now.Cts != seen.Cts || now.Dsr != seen.Dsr ||
                                   now.Ring != seen.Ring || now.Rlsd != seen.Rlsd)) {
        seen = now;
        return true;
      }
      if (!FDriver->WaitModemChange()) return false;
      const int error = errno;
      FDriver->Counts(seen);
      errno = error;
      return true;
    };
    FModemWatcher = std::make_unique<TPosixWatcher>(
        *FDriver, std::move(changed),
        [this](bool ok, std::uint64_t) { ModemChanged(ok); }, true);
    if (!FModemWatcher->Started()) return false;
  }
  return true;
}

TPosixDevice::TActivity TPosixDevice::Look(int timeoutMs) {
  TActivity activity;
  epoll_event ready[2];
  const int n = ::epoll_wait(FPoll.Get(), ready, 2, timeoutMs);
  for (int i = 0; i < n; ++i) {
    if (ready[i].data.fd == FMaskWake.Get()) {
      std::uint64_t value;
      [[maybe_unused]] ssize_t r = ::read(FMaskWake.Get(), &value, sizeof value);
      continue;
    }
    if (ready[i].events & EPOLLIN) activity.Arrival = true;
    if (ready[i].events & (EPOLLHUP | EPOLLERR)) activity.HungUp = true;
  }
  if (activity.HungUp && !FGone.exchange(true)) {
    // Said once by the system; the line is watched no more, so it can never spin.
    ::epoll_ctl(FPoll.Get(), EPOLL_CTL_DEL, FFd.Get(), nullptr);
  }
  return activity;
}

std::size_t TPosixDevice::TakeLimit(std::uint32_t mask) const {
  const bool inputFlow = (FDcb.Flags & fInX) ||
                         ((FDcb.Flags & fRtsControlMask) >> 12) == RtsControlHandshake;
  if ((mask & EvRxFlag) || !inputFlow) return TPosixInput::HeldLimit;
  return FInputSize > 0 ? FInputSize : DefaultInputSize;
}

void TPosixDevice::TakeArrivingBytes() {
  std::size_t limit;
  {
    std::lock_guard lock(FLock);
    // Only while bytes stream in: after a short arrival the read would find nothing, and the
    // handler would wait for it.
    if (!(FMask & EvRxChar) || FGone.load() || FLastTake < StreamingTake) return;
    limit = TakeLimit(FMask);
  }
  std::size_t moved = 0;
  if (!FInput.Take(moved, limit) || moved == 0) return;
  FReader->Nudge();
  // Taken before the wait looked, these bytes no longer wake it (epoll drops a report whose
  // bytes are gone); the next wait reports them itself if the handlers leave them unread.
  std::lock_guard lock(FLock);
  FTakenEarly = true;
}

std::uint32_t TPosixDevice::Collect(std::uint32_t mask, const TActivity& activity) {
  std::uint32_t events = 0;
  // Bytes that a waiting read took at once may have left before the wait looked.
  const bool arrival = FInput.TakeArrived() || activity.Arrival;
  if (arrival && !FGone.load()) {
    events |= mask & EvRxChar;
    if (mask & (EvRxChar | EvRxFlag)) {
      // Taken now, the terminal's buffer refills while the handlers run, and the handler's
      // read finds the bytes waiting. The flag can only be seen this way at all. Under input
      // flow control OnRxChar alone holds no more than the input size, so the terminal still
      // fills and holds the sender back about where a driver with that buffer would.
      std::size_t moved = 0;
      if (!FInput.Take(moved, TakeLimit(mask)) && PosixDeviceGone(errno)) FGone.store(true);
      FLastTake = moved;
      if (moved > 0) FReader->Nudge();
    } else {
      FInput.ArrivalNotTaken();
    }
    // Also the flag among bytes that a waiting read took first; dropped outside the mask.
    if (FInput.TakeFlagSeen()) events |= mask & EvRxFlag;
    std::uint32_t queued = 0;
    if ((mask & EvRx80Full) && FInputSize > 0 && FInput.Count(queued) &&
        static_cast<std::uint64_t>(queued) * 5 >= static_cast<std::uint64_t>(FInputSize) * 4)
      events |= EvRx80Full;
  }
  TLineCounts now;
  if (FCountsLines && (mask & CountedEvents) && FDriver->Counts(now)) {
    events |= LineEventsBetween(FEventCounts, now) & mask;
    FEventCounts = now;  // changes outside the mask are dropped, as a driver would
  }
  return events;
}

bool TPosixDevice::SetCommMask(std::uint32_t mask) {
  std::lock_guard lock(FLock);
  // What happened up to now is settled under the old mask: a handler assigned later must not
  // hear of it.
  FPending |= Collect(FMask, Look(0));
  // The first mask is part of the open: bytes that arrived since the open's purge are for the
  // handlers the port opened with. Dropped, they could fill the input queue, which then never
  // reports an arrival again.
  std::uint32_t queued = 0;
  if (FMaskGeneration == 0 && FInput.Count(queued) && queued > 0) FPending |= EvRxChar;
  if ((mask & CountedEvents) & ~FMask) {
    TLineCounts now;
    if (FCountsLines && FDriver->Counts(now)) FEventCounts = now;
  }
  const bool txEmptyAdded = (mask & EvTxEmpty) && !(FMask & EvTxEmpty);
  FMask = mask;
  FPending &= mask;
  if (txEmptyAdded) WatchUnwatchedDrain();
  ++FMaskGeneration;
  Wake();
  return true;
}

bool TPosixDevice::WaitCommEvent(std::uint32_t& events) {
  events = 0;
  std::uint64_t generation;
  std::uint32_t mask;
  {
    std::lock_guard lock(FLock);
    // Nothing to wait for: a wait started after the mask went to 0 would never end.
    if (FMask == 0) return Fail(EINVAL);
    generation = FMaskGeneration;
    mask = FMask;
    if (std::exchange(FTakenEarly, false) && FInput.Held() > 0) FPending |= EvRxChar;
    if (FPending & mask) {
      events = FPending & mask;
      FPending &= ~events;
      return true;
    }
  }
  for (;;) {
    // One system call per wake-up; a vanished line is no longer in the set, so only the
    // wake-up descriptor (mask changes, drains, modem changes) can end the wait then.
    const TActivity activity = Look(-1);
    std::lock_guard lock(FLock);
    ++FWakeUps;
    if (FMaskGeneration != generation) {
      // Ended by a mask change: report nothing; what happened meanwhile under both masks is
      // kept for the next wait.
      FPending |= Collect(mask & FMask, activity) & FMask;
      return true;
    }
    events = (FPending | Collect(mask, activity)) & mask;
    FPending = 0;
    if (events) return true;
  }
}

void TPosixDevice::WriteIssued() {
  std::lock_guard lock(FLock);
  FTxPending = true;
  ++FWrites;
}

void TPosixDevice::WriteFinished() {
  std::uint64_t ticket;
  {
    std::lock_guard lock(FLock);
    ticket = FWrites;
    FWritesHanded = ticket;
    // Nobody listens for the drain: waking the watcher at every write would cost a thread
    // switch and a drain call per write. A mask that adds EV_TXEMPTY arms it (SetCommMask).
    if (!(FMask & EvTxEmpty)) return;
  }
  // The driver holds the last bytes now; the watcher reports when they have left the line.
  if (FDrainWatcher) FDrainWatcher->Arm(ticket);
}

void TPosixDevice::WatchUnwatchedDrain() {
  if (!FTxPending || FWritesHanded != FWrites) return;  // the writer arms it when done
  // Output that left before anyone listened is settled, as a watched drain would have been.
  int queued = 0;
  if (::ioctl(FFd.Get(), TIOCOUTQ, &queued) == 0 && queued == 0) {
    FTxPending = false;
    return;
  }
  if (FDrainWatcher) FDrainWatcher->Arm(FWrites);
}

void TPosixDevice::Drained(bool ok, std::uint64_t ticket) {
  std::lock_guard lock(FLock);
  if (ticket != FWrites || !FTxPending) return;  // a later write is still on its way
  (void)ok;  // a line that cannot drain any more has nothing left to send either
  FTxPending = false;
  if (FMask & EvTxEmpty) {
    FPending |= EvTxEmpty;
    Wake();
  }
}

void TPosixDevice::ModemChanged(bool ok) {
  if (ok) Wake();  // the wait reads the counters to see which line changed
}

}  // namespace platform

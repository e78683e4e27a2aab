#pragma once
// One direction's asynchronous transfer on a POSIX descriptor: a worker thread waits with
// poll() on the device and on its own eventfd, which a purge signals to end the transfer.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <functional>
#include <optional>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "serial/platform/Platform.h"
#include "serial/platform/UniqueFd.h"

namespace platform {

class TPosixTransfer {
 public:
  using TClock = std::chrono::steady_clock;

  // gone is shared with the device: set when the device vanishes under a transfer.
  // onFinished runs on the worker after each transfer it completed.
  TPosixTransfer(TDirection direction, int fd, std::atomic<bool>& gone,
                 std::function<void()> onFinished = {});
  ~TPosixTransfer();
  TPosixTransfer(const TPosixTransfer&) = delete;
  TPosixTransfer& operator=(const TPosixTransfer&) = delete;

  // Reads go through read instead of read(2) on the descriptor; set before the first transfer.
  // waited: the worker reads bytes it had been waiting for.
  using TReadFn = std::function<ssize_t(void* buffer, std::size_t count, bool waited)>;
  void ReadThrough(TReadFn read) { FRead = std::move(read); }
  // The read source has bytes the descriptor does not show: a waiting transfer tries again.
  void Nudge();

  // False with errno when the worker could not be started.
  bool Started() const { return FWake.Valid() && FWorker.joinable(); }

  struct TJob {
    std::uint8_t* ReadBuffer = nullptr;  // read: the caller's buffer
    std::vector<std::uint8_t> WriteBytes;  // write: our own copy
    std::uint32_t Count = 0;
    std::uint32_t Moved = 0;  // already moved before the worker takes over
    std::optional<TClock::time_point> Deadline;
    std::chrono::milliseconds Interval{0};  // read: longest gap between bytes, 0 none
    bool AnyByte = false;                   // read: done as soon as one byte has arrived
  };

  // Completes at once (event set, returns true) or hands the rest to the worker (false,
  // errno ErrorIoPending). False with EBUSY while a transfer is running.
  bool Start(TJob job, IEvent& done);
  // Records a transfer finished without the worker.
  void Finish(std::uint32_t moved, int error, IEvent& done);
  // Waits for the running transfer, if any.
  bool Result(std::uint32_t& moved);
  bool Running();
  // Ends the running transfer; its result then fails with ECANCELED. Returns once it ended.
  void Cancel();

 private:
  void Run();
  int Transfer(TJob& job);  // 0 or errno; job.Moved updated
  ssize_t ReadSome(std::uint8_t* buffer, std::size_t count, bool waited);

  TDirection FDirection;
  int FFd;
  std::atomic<bool>& FGone;
  std::function<void()> FOnFinished;
  TReadFn FRead;
  TUniqueFd FWake;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::optional<TJob> FJob;
  IEvent* FDone = nullptr;
  bool FRunning = false;
  bool FCancel = false;
  bool FNudged = false;  // the read source got bytes since the worker last looked
  bool FQuit = false;
  std::uint32_t FMoved = 0;
  int FError = 0;
  std::thread FWorker;
};

}  // namespace platform

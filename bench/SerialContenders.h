#pragma once
// The ways of serving one serial line that the serial benchmark sets side by side: raw
// poll/read/write on a thread of its own, QSerialPort on the main thread, the port component
// with its events on the main thread or on its event thread, and for reference raw poll that
// hands the reading to the main thread. Each hands what it
// reads to one sink, which answers requests or counts bytes the same way for all.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

using TReply = std::function<void(const std::string&)>;

inline std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Where a contender's handler puts the bytes it has read. Runs on the handler's thread.
class TSink {
 public:
  static constexpr std::size_t RequestSize = 3;
  static constexpr std::size_t ReplySize = 244;
  enum class TMode { Reply, Count };

  TSink();
  void Answer();                        // every full request is stamped and answered
  void Count(std::uint64_t target);     // bytes are counted up to target, then stamped
  void Take(const char* data, std::size_t size, const TReply& reply);

  std::uint64_t Answered() const { return FAnswered.load(); }
  std::int64_t AnsweredAt() const { return FAnsweredAt.load(); }
  // Blocks until the counted target was reached; the time it was, or 0 after the timeout.
  std::int64_t WaitCounted(std::chrono::milliseconds timeout);
  // Handler calls that brought counted bytes, since Count.
  std::uint64_t CountCalls();

 private:
  TMode FMode = TMode::Reply;
  std::string FReply;
  std::size_t FPending = 0;
  std::atomic<std::uint64_t> FAnswered{0};
  std::atomic<std::int64_t> FAnsweredAt{0};
  std::uint64_t FTarget = 0;
  std::uint64_t FCounted = 0;
  std::uint64_t FCountCalls = 0;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::int64_t FCountedAt = 0;
};

class TContender {
 public:
  virtual ~TContender() = default;
  virtual std::string Name() const = 0;
  // On the main thread. Throws std::runtime_error when the device cannot be opened.
  virtual void Open(const std::string& path, TSink& sink) = 0;
  virtual void Close() = 0;
  // On the main thread, inside its event loop: sends size bytes in chunks of chunk's size.
  virtual void Send(const std::string& chunk, std::uint64_t size) = 0;
};

std::unique_ptr<TContender> MakeRawPoll(bool handOver);
std::unique_ptr<TContender> MakeQSerialPort();
std::unique_ptr<TContender> MakeComponent(bool synchronizeEvents);

#pragma once
// One serial line for the benchmark: a pty pair from openpty(), or two ptys joined by socat.
// The contenders open Path() by name; the peer end is Peer(). The line holds a descriptor of
// its own on the contenders' end, so closing a contender never hangs the line up.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

class TSerialLine {
 public:
  enum class TKind { OpenPty, Socat };
  explicit TSerialLine(TKind kind);  // throws std::runtime_error
  ~TSerialLine();
  TSerialLine(const TSerialLine&) = delete;
  TSerialLine& operator=(const TSerialLine&) = delete;

  const std::string& Path() const { return FPath; }
  int Peer() const { return FPeer; }
  pid_t Relay() const { return FRelay; }  // socat's pid, or 0

  // Peer side, all with a timeout that throws: the line must not hang the benchmark.
  void PeerWrite(const char* data, std::size_t size);
  void PeerRead(std::uint64_t size);  // reads and drops exactly size bytes
  void Flush();                       // both directions emptied

 private:
  std::string FPath;
  std::string FDir;
  int FPeer = -1;
  int FHeld = -1;
  pid_t FRelay = 0;
};

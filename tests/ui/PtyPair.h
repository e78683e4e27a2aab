#pragma once
// A pty pair: the window opens the far end by name, the test holds the near end.
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <functional>
#include <string>

class PtyPair {
 public:
  PtyPair() {
    if (openpty(&FMaster, &FSlave, nullptr, nullptr, nullptr) == 0) FName = ttyname(FSlave);
  }
  ~PtyPair() {
    if (FSlave >= 0) close(FSlave);
    if (FMaster >= 0) close(FMaster);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Valid() const { return !FName.empty(); }
  const std::string& Name() const { return FName; }
  bool Write(const std::string& bytes) {
    return write(FMaster, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // What arrives within waitMs, up to length bytes. between() runs while nothing is there, so
  // the window's event loop can go on meanwhile.
  std::string ReadUpTo(std::size_t length, int waitMs = 2000,
                       const std::function<void()>& between = {}) {
    std::string got;
    const int step = between ? 10 : waitMs;
    for (int waited = 0; got.size() < length && waited <= waitMs;) {
      pollfd p{FMaster, POLLIN, 0};
      const int ready = poll(&p, 1, step);
      if (ready < 0) break;
      if (ready == 0) {
        waited += step;
        if (between) between();
        continue;
      }
      char buffer[256];
      const ssize_t n = read(FMaster, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  int FMaster = -1;
  int FSlave = -1;
  std::string FName;
};

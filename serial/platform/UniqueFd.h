#pragma once
// A descriptor closed with its owner, so that every early return releases it.
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

class TUniqueFd {
 public:
  TUniqueFd() = default;
  explicit TUniqueFd(int fd) : FFd(fd) {}
  TUniqueFd(TUniqueFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
  TUniqueFd& operator=(TUniqueFd&& other) noexcept {
    if (this != &other) {
      Close();
      FFd = std::exchange(other.FFd, -1);
    }
    return *this;
  }
  ~TUniqueFd() { Close(); }
  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  void Close() {
    if (FFd >= 0) {
      const int saved = errno;  // a failure being reported must keep its code
      ::close(FFd);
      errno = saved;
      FFd = -1;
    }
  }

 private:
  int FFd = -1;
};

}  // namespace platform

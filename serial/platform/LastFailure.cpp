#include "serial/platform/LastFailure.h"

#include <cerrno>

namespace platform {
namespace {

struct TRefusal {
  int Code = 0;
  std::string Text;
};
thread_local TRefusal last;

}  // namespace

bool Refuse(int code, std::string text) {
  last.Code = code;
  last.Text = std::move(text);
  errno = code;
  return false;
}

std::string RefusalText(int code) {
  if (code == 0 || last.Code != code || errno != code) return {};
  return last.Text;
}

void ForgetRefusal() {
  last.Code = 0;
  last.Text.clear();
}

}  // namespace platform

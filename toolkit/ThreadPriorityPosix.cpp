#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "toolkit/ThreadPriority.h"

namespace ThreadPriority {

int CurrentSystemId() noexcept { return static_cast<int>(::gettid()); }

void RaiseToTimeCritical(std::thread::native_handle_type thread, int systemId) noexcept {
  sched_param param{};
  param.sched_priority = 0;
  // A real-time class lets one busy thread freeze a core; the time-sharing class never does.
  (void)pthread_setschedparam(thread, SCHED_OTHER, &param);
  rlimit limit{};
  if (systemId == 0 || getrlimit(RLIMIT_NICE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return;
  // RLIMIT_NICE allows nice values down to 20 - limit without privileges.
  const int lowest = 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40));
  errno = 0;
  const int present = getpriority(PRIO_PROCESS, static_cast<id_t>(systemId));
  if (errno == 0 && lowest < present)
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(systemId), lowest);
}

}  // namespace ThreadPriority

#include "serial/platform/PosixPriority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "serial/platform/Platform.h"

namespace platform {
namespace {

constexpr int CapSysNice = 23;

bool HasCapSysNice() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "CapEff:") {
      unsigned long long caps = 0;
      status >> std::hex >> caps;
      return (caps >> CapSysNice) & 1;
    }
    status.ignore(4096, '\n');
  }
  return false;
}

const char* ClassName(std::int32_t priorityClass) {
  switch (priorityClass) {
    case IdlePriorityClass: return "pcIdle";
    case NormalPriorityClass: return "pcNormal";
    case HighPriorityClass: return "pcHigh";
    case RealtimePriorityClass: return "pcRealTime";
    default: return "?";
  }
}

}  // namespace

int NiceOfPriorityClass(std::int32_t priorityClass) {
  switch (priorityClass) {
    case IdlePriorityClass: return 19;
    case HighPriorityClass: return -10;
    case RealtimePriorityClass: return -20;
    default: return 0;
  }
}

std::int32_t PriorityClassOfNice(int nice) {
  if (nice >= 10) return IdlePriorityClass;
  if (nice > -5) return NormalPriorityClass;
  if (nice > -15) return HighPriorityClass;
  return RealtimePriorityClass;
}

TProcessNice ReadProcessNice() {
  const int saved = errno;
  const pid_t main = ::getpid();
  TProcessNice result{{main, ::getpriority(PRIO_PROCESS, static_cast<id_t>(main))}};
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
    const pid_t thread = static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
    if (thread <= 0 || thread == main) continue;
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    if (errno == 0) result.push_back({thread, nice});  // else it has just ended
  }
  errno = saved;
  return result;
}

TProcessNice ShiftedProcessNice(const TProcessNice& now, int nice) {
  TProcessNice result = now;
  if (now.empty()) return result;
  const int shift = nice - now.front().Nice;
  for (TThreadNice& t : result) t.Nice = std::clamp(t.Nice + shift, -20, 19);
  return result;
}

bool MayLowerNiceTo(int nice) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NICE, &limit) == 0) {
    if (limit.rlim_cur == RLIM_INFINITY) return true;
    // A limit of n allows nice values down to 20 - n.
    if (nice >= 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40))) return true;
  }
  return HasCapSysNice();
}

int WriteProcessNice(const TProcessNice& from, const TProcessNice& to) {
  for (std::size_t i = 0; i < to.size(); ++i) {
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(to[i].Thread), to[i].Nice) == 0 ||
        errno == ESRCH)
      continue;
    const int error = errno;
    for (std::size_t j = 0; j < i && j < from.size(); ++j)
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(from[j].Thread), from[j].Nice);
    return error;
  }
  return 0;
}

std::string PriorityRefusal(std::int32_t priorityClass, const TProcessNice& from,
                            const TProcessNice& to) {
  const std::string name = std::string("PriorityClass ") + ClassName(priorityClass) + " refused: ";
  for (std::size_t i = 0; i < to.size() && i < from.size(); ++i) {
    if (to[i].Nice < from[i].Nice && !MayLowerNiceTo(to[i].Nice))
      return name + "raising the priority needs CAP_SYS_NICE or a higher RLIMIT_NICE";
    if (to[i].Nice > from[i].Nice && !MayLowerNiceTo(from[i].Nice))
      return name + "the priority could not be given back at close without CAP_SYS_NICE or "
                    "a higher RLIMIT_NICE";
  }
  return {};
}

}  // namespace platform

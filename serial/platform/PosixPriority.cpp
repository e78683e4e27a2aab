#include "serial/platform/PosixPriority.h"

#include "serial/platform/Platform.h"

namespace platform {

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

}  // namespace platform

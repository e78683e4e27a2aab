#pragma once
// Process priority classes as nice values. Linux keeps a nice value per thread, so the class of
// the process is given to every thread, each keeping its distance from the main thread.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

int NiceOfPriorityClass(std::int32_t priorityClass);
std::int32_t PriorityClassOfNice(int nice);

struct TThreadNice {
  pid_t Thread;
  int Nice;
};
using TProcessNice = std::vector<TThreadNice>;

// Every thread of this process with its nice value; the main thread first.
TProcessNice ReadProcessNice();
// The nice value each thread gets when the main thread gets nice.
TProcessNice ShiftedProcessNice(const TProcessNice& now, int nice);
// Whether this process may give a thread the nice value (lower values need CAP_SYS_NICE or
// RLIMIT_NICE); Linux lets anyone raise it.
bool MayLowerNiceTo(int nice);
// Gives each listed thread its value; threads that have ended are passed over. Returns 0, or
// the first errno after putting back the threads already changed.
int WriteProcessNice(const TProcessNice& from, const TProcessNice& to);

// The text of a refused class change, or empty when the change and its undoing are allowed.
std::string PriorityRefusal(std::int32_t priorityClass, const TProcessNice& from,
                            const TProcessNice& to);

}  // namespace platform

#pragma once
// System calls per round trip, counted by strace(1) on a second run of this program: every
// call made by any thread of the process between two marker calls, except those of the peer
// thread and of socat, which are the same for every contender. Markers are access() calls on
// paths under MarkDir that do not exist.
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

inline constexpr const char* MarkDir = "/korvex-bench-mark";

// Marker calls, made by the probe run.
void MarkBegin();
void MarkEnd();
void MarkExcluded(pid_t tid);

struct TSyscallCount {
  bool Valid = false;
  std::string Problem;             // why not, when not valid
  long Total = 0;
  std::map<std::string, long> ByName;
};

// Runs argv under strace -f and counts the calls between the markers.
TSyscallCount CountSyscalls(const std::vector<std::string>& argv);

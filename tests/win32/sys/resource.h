#pragma once
// The process CPU times the tests measure, on Windows: getrusage over GetProcessTimes.
#include <sys/time.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#define RUSAGE_SELF 0

struct rusage {
  timeval ru_utime;
  timeval ru_stime;
};

inline timeval KorvexTimevalOf(const FILETIME& time) {
  const unsigned long long ticks =
      (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  const unsigned long long micro = ticks / 10;  // 100 ns ticks
  timeval value{};
  value.tv_sec = static_cast<long>(micro / 1000000);
  value.tv_usec = static_cast<long>(micro % 1000000);
  return value;
}

inline int getrusage(int, rusage* usage) {
  FILETIME created, ended, kernel, user;
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user)) return -1;
  usage->ru_utime = KorvexTimevalOf(user);
  usage->ru_stime = KorvexTimevalOf(kernel);
  return 0;
}

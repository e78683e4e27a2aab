#pragma once
// The punch-file checker: reads a punch file exactly as the station does and reports, line by
// line, the card each line gives and every field whose form or place makes the station read
// something other than what the line shows.
#include <iosfwd>
#include <string>

struct TPunchCheckResult {
  int Cards = 0;
  int Warnings = 0;
  int Errors = 0;
  // 0 clean, 1 warnings only, 2 errors.
  int ExitCode() const noexcept { return Errors ? 2 : Warnings ? 1 : 0; }
};

// Writes the report to out; hours and minutes are the base time of the card times. Raises the
// punch file's EInOutError when the file cannot be opened or read.
TPunchCheckResult CheckPunchFile(const std::string& path, int hours, int minutes,
                                 std::ostream& out);

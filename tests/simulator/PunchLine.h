#pragma once
// Builds punch-file lines in their fixed columns, each field right-aligned.
#include <string>
#include <utility>
#include <vector>

inline std::string RightAligned(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

struct PunchLine {
  std::string Number = "4101", Check = "0.00", Start = "0.00", Finish = "0.00";
  std::vector<std::pair<std::string, std::string>> Punches;  // code text, time text

  std::string Text() const {
    std::string line = "Sa 10:15:23        ";  // day and time, not read
    line += RightAligned(Number, 6) + " " + RightAligned(Check, 7) + RightAligned(Start, 7) +
            RightAligned(Finish, 7);
    for (const auto& [code, time] : Punches) {
      line += RightAligned(code, 3) + " " + RightAligned(time, 6);
      if (&code != &Punches.back().first) line += " ";
    }
    return line;
  }
};

#include "tools/PunchCheck.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/simulator/PunchLine.h"
#include "tests/simulator/TempDir.h"

namespace {

std::string Line(PunchLine p) { return p.Text() + "\r\n"; }

PunchLine Good() {
  PunchLine p;
  p.Check = "0.15";
  p.Start = "1.00";
  p.Finish = "27.00";
  p.Punches = {{"113", "4.47"}, {"69", "10.25"}};
  return p;
}

// The report's lines that belong to "line N:" (its header and the lines indented under it).
std::string Section(const std::string& report, int number) {
  const std::string head = "line " + std::to_string(number) + ": ";
  std::size_t at = report.find(head);
  if (at == std::string::npos) return {};
  std::size_t end = report.find("\nline ", at);
  std::size_t tail = report.find("\n/", at);  // the file's own lines start with its path
  return report.substr(at, std::min(end, tail) - at);
}

}  // namespace

TEST(PunchCheck, EveryFaultIsReportedAtItsLineAndTheExampleIsClean) {
  std::ostringstream clean;
  EXPECT_EQ(CheckPunchFile(KORVEX_EXAMPLES_DIR "/data.epl", 10, 0, clean).ExitCode(), 0)
      << clean.str();

  PunchLine trailing = Good(), comma = Good(), letters = Good(), inner = Good(),
            badNumber = Good(), many = Good();
  trailing.Finish = "27.00  ";  // left in its columns: a trailing blank
  comma.Check = "0,15";
  letters.Start = "1.0O";       // a letter O for a zero
  inner.Punches[1] = {"69", "10 25"};
  badNumber.Number = "4101 ";
  many.Punches.clear();
  for (int i = 0; i < 38; ++i) many.Punches.push_back({"31", "1.00"});
  // A time of 14.47 that starts one column early: its first digit stands in the gap.
  std::string shiftedText = Good().Text();
  shiftedText[50] = '1';
  std::string lfOnly = Good().Text() + "\n" + Good().Text() + "\r\n";

  struct Case {
    int Line;
    std::string Expected;  // in the line's part of the report
  } cases[] = {
      {1, "as read: check '   0.15' = 36015 s, start '   1.00' = 36060 s, finish '  27.00' = "
          "37620 s"},
      {2, "warning: finish time, columns 41-47 '27.00  ': a trailing blank"},
      {3, "warning: check time, columns 27-33 '   0,15': a comma"},
      {4, "warning: start time, columns 34-40 '   1.0O': letters"},
      {5, "warning: column 51 (between punch 1 code and time) holds '1'"},
      {6, "warning: punch 2 time, columns 63-68 ' 10 25': a blank inside"},
      {7, "error: card number, columns 20-25: ' 4101 ' is not a valid integer value"},
      {8, "error: 38 punches: the card holds 36"},
      {9, "error: holds 1 LF line end(s)"},
  };
  const std::string file = Line(Good()) + Line(trailing) + Line(comma) + Line(letters) +
                           shiftedText + "\r\n" + Line(inner) + Line(badNumber) + Line(many) +
                           lfOnly + "\x1a" + Line(Good());
  TempDir dir;
  const std::string path = dir.Write("faults.epl", file);
  std::ostringstream out;
  const TPunchCheckResult result = CheckPunchFile(path, 10, 0, out);
  const std::string report = out.str();
  for (const Case& c : cases)
    EXPECT_NE(Section(report, c.Line).find(c.Expected), std::string::npos)
        << "line " << c.Line << " lacks: " << c.Expected << "\n" << report;
  EXPECT_NE(report.find("error: byte 0x1A at offset"), std::string::npos) << report;
  EXPECT_EQ(Section(report, 10), "") << "read past the 0x1A:\n" << report;
  // The LF line also reads the next line's day as punch 3: two more warnings there.
  EXPECT_EQ(result.Warnings, 7) << report;
  EXPECT_EQ(result.Errors, 4) << report;
  EXPECT_EQ(result.ExitCode(), 2);

  // Warnings alone give 1.
  std::ostringstream warned;
  EXPECT_EQ(CheckPunchFile(dir.Write("warn.epl", Line(comma)), 10, 0, warned).ExitCode(), 1);
}

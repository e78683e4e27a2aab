#include "tools/LineOptions.h"

#include <gtest/gtest.h>

#include "toolkit/Exception.h"

// The names are the window's list rows, and a row's index is the setting's ordinal: a name out
// of its place would open the line at another setting without a word.
TEST(LineOptions, EveryNameGivesTheSettingOfItsRow) {
  struct Case {
    const char* Option;
    const char* Value;
    int Ordinal;
  } cases[] = {{"--baud", "default", 0},   {"--baud", "110", 1},       {"--baud", "4800", 6},
               {"--baud", "9600", 7},      {"--baud", "256000", 17},   {"--data-bits", "4", 1},
               {"--data-bits", "8", 5},    {"--stop-bits", "1", 1},    {"--stop-bits", "1_5", 2},
               {"--stop-bits", "1.5", 2},  {"--stop-bits", "2", 3},    {"--parity", "None", 1},
               {"--parity", "even", 3},    {"--parity", "space", 5},   {"--parity", "default", 0}};
  for (const Case& c : cases) {
    TLineSettings s;
    ParseLineOption("test", c.Option, c.Value, s);
    const std::string option = c.Option;
    const int got = option == "--baud"        ? static_cast<int>(s.BaudRate)
                    : option == "--data-bits" ? static_cast<int>(s.DataBits)
                    : option == "--stop-bits" ? static_cast<int>(s.StopBits)
                                              : static_cast<int>(s.Parity);
    EXPECT_EQ(got, c.Ordinal) << c.Option << " " << c.Value;
  }
  TLineSettings s;
  EXPECT_THROW(ParseLineOption("test", "--baud", "4801", s), Exception);
  EXPECT_EQ(s.BaudRate, TBaudRate::br4800) << "the window's default stays";
}

#include <gtest/gtest.h>

#include <clocale>
#include <locale>
#include <string>

#include "simulator/NumberText.h"
#include "toolkit/Exception.h"

namespace {

struct RealCase {
  const char* text;
  double expected;
};

const RealCase RealCases[] = {
    {"12.34", 12.34},   {"  12.34", 12.34}, {"12.34  ", 0.0},  {"12,34", 0.0},
    {"", 0.0},          {"   ", 0.0},       {"-1.30", -1.30},  {"+5", 5.0},
    {"  -0.5", -0.5},   {"1e2", 100.0},     {"1.5E-1", 0.15},  {"2e+1", 20.0},
    {"1e", 0.0},        {"e5", 0.0},        {".5", 0.5},       {"5.", 5.0},
    {".", 0.0},         {"-", 0.0},         {"1.2.3", 0.0},    {"\t1", 0.0},
    {"1 2", 0.0},       {"0x10", 0.0},      {"inf", 0.0},      {"nan", 0.0},
    {"--1", 0.0},       {"1e999", 0.0},     {"007", 7.0},      {"45.30", 45.30},
};

void ExpectRealCases() {
  for (const auto& c : RealCases) EXPECT_DOUBLE_EQ(TextToReal(c.text), c.expected) << c.text;
}

TEST(TextToReal, AcceptsOnlyTheFileNumberForm) { ExpectRealCases(); }

TEST(TextToReal, FieldMayHoldNulAndHighBytes) {
  EXPECT_EQ(TextToReal(std::string("1\0", 2)), 0.0);
  EXPECT_EQ(TextToReal("\xB2"), 0.0);
}

TEST(TextToRounded, HalvesGoToTheEvenNeighbour) {
  struct Case {
    const char* text;
    std::int32_t expected;
  } cases[] = {{"2.5", 2},   {"3.5", 4},   {"0.5", 0},   {"1.5", 2},     {"-2.5", -2},
               {"-3.5", -4}, {"0.4", 0},   {"2.51", 3},  {"31", 31},     {"256", 256},
               {"x", 0},     {"31 ", 0},   {"1e3", 1000}, {"-0.6", -1}};
  for (const auto& c : cases) EXPECT_EQ(TextToRounded(c.text), c.expected) << c.text;
}

TEST(RoundHalfEven, KeepsLow32BitsOfLargeValues) {
  EXPECT_EQ(RoundHalfEven(4294967296.0 + 7.0), 7);
  EXPECT_EQ(RoundHalfEven(2147483648.0), INT32_MIN);
  EXPECT_EQ(RoundHalfEven(-1.0), -1);
  EXPECT_EQ(TextToRounded("9e9"), static_cast<std::int32_t>(9000000000LL & 0xFFFFFFFF));
}

TEST(TextToInteger, ReadsSignedDecimalWithLeadingBlanks) {
  EXPECT_EQ(TextToInteger("234567"), 234567);
  EXPECT_EQ(TextToInteger("  4101"), 4101);
  EXPECT_EQ(TextToInteger("    -5"), -5);
  EXPECT_EQ(TextToInteger("+12"), 12);
  EXPECT_EQ(TextToInteger("-2147483648"), INT32_MIN);
}

TEST(TextToInteger, RejectsAnythingElseNamingTheText) {
  for (const char* text : {"", "      ", "4101  ", "12a", "1.0", "+", "- 1", "1e3", "2147483648",
                           "99999999999999999999"}) {
    try {
      TextToInteger(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid integer value");
    }
  }
}

// A locale whose decimal separator is the comma, as on German or Czech desktops.
struct CommaDecimal : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(TextToReal, IgnoresTheProcessLocale) {
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
  const char* cSaved = std::setlocale(LC_ALL, nullptr);
  const std::string cLocale = cSaved ? cSaved : "C";
  // Prefer a real comma locale when the machine has one; C.UTF-8 is always there.
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) std::setlocale(LC_ALL, "C.UTF-8");
  ExpectRealCases();
  EXPECT_EQ(TextToRounded("2.5"), 2);
  EXPECT_EQ(TextToInteger(" 1000"), 1000);
  std::setlocale(LC_ALL, cLocale.c_str());
  std::locale::global(saved);
}

}  // namespace

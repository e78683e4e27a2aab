#include <gtest/gtest.h>

#include <map>
#include <string>

#include "PunchLine.h"
#include "simulator/CardImage.h"
#include "simulator/NumberText.h"
#include "simulator/StationMessages.h"
#include "toolkit/Exception.h"

namespace {

// The bytes at which image differs from the template.
std::map<std::size_t, std::uint8_t> Differences(const ByteString& image) {
  const ByteString base = MakeTemplateImage();
  std::map<std::size_t, std::uint8_t> diff;
  for (std::size_t i = 0; i < CardImageSize; ++i)
    if (image[i] != base[i]) diff[i] = ByteAt(image, i);
  return diff;
}

ByteString Filled(const std::string& line, int hours = 10, int minutes = 0) {
  ByteString image = MakeTemplateImage();
  FillCardImageFromLine(line, image, hours, minutes);
  return image;
}

std::uint16_t TimeAt(const ByteString& image, std::size_t offset) {
  return static_cast<std::uint16_t>(ByteAt(image, offset) << 8 | ByteAt(image, offset + 1));
}

std::size_t CountBelow0x20(const ByteString& bytes) {
  std::size_t n = 0;
  for (char c : bytes) n += static_cast<std::uint8_t>(c) < 0x20;
  return n;
}

const std::string WorkedExample =
    "Sa 10:15:23        234567    0.00   1.00  45.30 31   5.12  32  12.05";

TEST(CardImage, TemplateAndItsMessage) {
  const ByteString image = MakeTemplateImage();
  ASSERT_EQ(image.size(), 128u);
  EXPECT_EQ(image.substr(0, 7), MakeBytes({0xAA, 0x2A, 0x00, 0x01, 0x10, 0x05, 0x01}));
  EXPECT_EQ(image.substr(16, 16), MakeBytes({0x65, 0x10, 0x05, 0xEE, 0xEE, 0xEE, 0xEE, 0x01, 0x56,
                                             0xEE, 0xEE, 0x1E, 0x01, 0x16, 0x01, 0x01}));
  EXPECT_EQ(image.substr(32), ByteString(96, '\0'));
  EXPECT_EQ(CountBelow0x20(image), 118u);
  EXPECT_EQ(CardChecksum(image), 0x88);
  const ByteString message = FrameCardData(image);
  EXPECT_EQ(message.size(), 252u);
  EXPECT_EQ(message.substr(0, 8), MakeBytes({0x02, 0x31, 0x10, 0x01, 0xAA, 0x2A, 0x10, 0x00}));
}

TEST(CardImage, WorkedExample) {
  ASSERT_EQ(WorkedExample.size(), 68u);
  const ByteString image = Filled(WorkedExample);
  const std::map<std::size_t, std::uint8_t> expected = {
      {4, 0x87},  {5, 0x07},  {6, 0x02},  {19, 0x8C}, {20, 0xDC}, {21, 0x97}, {22, 0x4A},
      {23, 0x03}, {25, 0x8C}, {26, 0xA0}, {33, 0x1F}, {34, 0x8D}, {35, 0xD8}, {36, 0x20},
      {37, 0x8F}, {38, 0x75}, {40, 0x8C}, {41, 0xA0}};  // 39 stays 0x00: the empty record's code
  EXPECT_EQ(Differences(image), expected);
  EXPECT_EQ(CardChecksum(image), 0xB9);
  EXPECT_EQ(CountBelow0x20(image), 110u);
  EXPECT_EQ(FrameCardData(image).size(), 244u);
}

TEST(CardImage, CardNumberAndSeries) {
  struct Case {
    const char* number;
    std::uint8_t high, low, series;
  } cases[] = {{"4101", 0x10, 0x05, 0x01},   {"150000", 0xC3, 0x50, 0x01},
               {"999999", 0x86, 0x9F, 0x09}, {"200001", 0x00, 0x01, 0x02},
               {"1", 0x00, 0x01, 0x01},      {"65536", 0x00, 0x00, 0x01},
               {"99999", 0x86, 0x9F, 0x01},  {"  -5", 0x00, 0xFB, 0x01}};
  for (const auto& c : cases) {
    PunchLine line;
    line.Number = c.number;
    const ByteString image = Filled(line.Text());
    EXPECT_EQ(ByteAt(image, 4), c.high) << c.number;
    EXPECT_EQ(ByteAt(image, 5), c.low) << c.number;
    EXPECT_EQ(ByteAt(image, 6), c.series) << c.number;
    EXPECT_EQ(image.substr(17, 2), MakeBytes({0x10, 0x05})) << c.number;
  }
}

TEST(CardImage, TimesOnTheTwelveHourClock) {
  struct Case {
    const char* time;
    int hours, minutes;
    std::uint16_t stored;
  } cases[] = {
      {"12.34", 10, 0, 36000 + 754}, {"0.00", 10, 0, 36000},   {"12.34  ", 10, 0, 36000},
      {"12,34", 10, 0, 36000},       {"1.00", 23, 59, 0},      {"-1.30", 0, 0, 0x00A6},
      {"5.75", 0, 0, 375},           {"1.00", 14, 0, 7260},    {"1.00", 2, 0, 7260},
      {"719.59", 0, 0, 43199},       {"720.00", 0, 0, 0},      {"-0.01", 0, 0, 0x00FF},
      {"-5.00", 0, 0, 0xFFD4},  // -300: high byte is -1 taken to 8 bits
      {"5.125", 0, 0, 312},          {"5.005", 0, 0, 300},
  };
  for (const auto& c : cases) {
    ByteString image = MakeTemplateImage();
    PutCardTime(image, 19, TextToReal(c.time), c.hours, c.minutes);
    EXPECT_EQ(TimeAt(image, 19), c.stored) << c.time << " at " << c.hours << ":" << c.minutes;
  }
}

PunchLine WithPunches(int n, int zeroAt = 0) {
  PunchLine line;
  line.Number = "100";
  for (int i = 1; i <= n; ++i)
    line.Punches.push_back({i == zeroAt ? "0" : std::to_string(30 + i), std::to_string(i) + ".00"});
  return line;
}

constexpr std::uint16_t Base = 36000;  // 10:00

TEST(CardImage, PunchCountRules) {
  struct Case {
    const char* what;
    int fields, zeroAt;
    std::uint8_t count;
  } cases[] = {
      {"no complete field: one empty record", 0, 0, 1},
      {"five fields: the sixth is the empty record", 5, 0, 6},
      {"code 0 at punch 3 ends the list", 5, 3, 2},
      {"code 0 at punch 1 is placed when the line ends", 3, 1, 4},
      {"all fifty fields: nothing counted", 50, 0, 0},
      {"thirty-five fields and the empty record fill the card", 35, 0, 36},
      {"thirty-six fields: cut at the card's capacity", 36, 0, 36},
      {"forty-nine fields: cut at the card's capacity", 49, 0, 36},
      {"first code 0 at punch 40: cut at the card's capacity", 45, 40, 36},
  };
  for (const auto& c : cases) {
    const ByteString image = Filled(WithPunches(c.fields, c.zeroAt).Text());
    ASSERT_EQ(image.size(), 128u) << c.what;
    EXPECT_EQ(ByteAt(image, 23), c.count) << c.what;
  }
}

TEST(CardImage, PunchRecordsAtTheirOffsets) {
  const ByteString image = Filled(WithPunches(36).Text());
  // Punch 1 at 33, 5 at 45, 6 at 49, 30 at 125; each with its time behind it.
  for (int i : {1, 5, 6, 30}) {
    const std::size_t offset = 33 + 16 * ((i - 1) / 5) + 3 * ((i - 1) % 5);
    EXPECT_EQ(ByteAt(image, offset), 30 + i) << i;
    EXPECT_EQ(TimeAt(image, offset + 1), Base + 60 * i) << i;
  }
  // Punches 31-36: the code alone, in the first byte of each block.
  for (int i = 31; i <= 36; ++i) EXPECT_EQ(ByteAt(image, 32 + 16 * (i - 31)), 30 + i) << i;
}

TEST(CardImage, EmptyRecordsAndListEnds) {
  // A line without punch fields carries punch 1 as code 0 at the base time.
  ByteString image = Filled(WithPunches(0).Text());
  EXPECT_EQ(ByteAt(image, 33), 0);
  EXPECT_EQ(TimeAt(image, 34), Base);

  // Code 0 at punch 3: records 1 and 2 only; the rest of the line is ignored.
  image = Filled(WithPunches(5, 3).Text());
  EXPECT_EQ(ByteAt(image, 36), 32);
  EXPECT_EQ(image.substr(39), ByteString(128 - 39, '\0'));

  // Code 0 in punch 1 is placed as it stands once the line's end sets the count.
  image = Filled(WithPunches(3, 1).Text());
  EXPECT_EQ(ByteAt(image, 33), 0);
  EXPECT_EQ(TimeAt(image, 34), Base + 60);
  EXPECT_EQ(ByteAt(image, 39), 33);
  EXPECT_EQ(ByteAt(image, 42), 0);
  EXPECT_EQ(TimeAt(image, 43), Base);  // punch 4: the empty record

  // All fifty fields present: no record placed.
  image = Filled(WithPunches(50).Text());
  EXPECT_EQ(image.substr(32), ByteString(96, '\0'));
}

TEST(CardImage, PunchCodeFields) {
  struct Case {
    const char* code;
    std::uint8_t stored, count;
  } cases[] = {{"2.5", 2, 3}, {"3.5", 4, 3}, {"0.4", 0, 1}, {"256", 0x00, 3}, {"31 ", 0, 1}};
  for (const auto& c : cases) {
    PunchLine line;
    line.Punches = {{"31", "1.00"}, {c.code, "2.00"}};
    const ByteString image = Filled(line.Text());
    EXPECT_EQ(ByteAt(image, 23), c.count) << c.code;
    if (c.count == 3) {
      EXPECT_EQ(ByteAt(image, 36), c.stored) << c.code;
    }
  }
}

// A punch counts only when the line reaches the last column of its time field.
TEST(CardImage, ShortLastPunchIsAbsent) {
  PunchLine line;
  line.Punches = {{"31", "1.00"}, {"32", "2.00"}};
  std::string text = line.Text();
  text.pop_back();
  const ByteString image = Filled(text);
  EXPECT_EQ(ByteAt(image, 23), 2);
  EXPECT_EQ(ByteAt(image, 36), 0);  // punch 2 became the empty record
  EXPECT_EQ(TimeAt(image, 37), Base);
}

TEST(CardImage, CardNumberZeroOrLessKeepsTheTemplateTimes) {
  for (const char* number : {"0", "-1", "-99999"}) {
    PunchLine line;
    line.Number = number;
    line.Check = line.Start = line.Finish = "5.00";
    line.Punches = {{"31", "1.00"}};
    const ByteString image = Filled(line.Text());
    const ByteString base = MakeTemplateImage();
    EXPECT_EQ(image.substr(19, 4), base.substr(19, 4)) << number;
    EXPECT_EQ(image.substr(25, 2), base.substr(25, 2)) << number;
    EXPECT_EQ(ByteAt(image, 23), 0) << number;
    EXPECT_EQ(image.substr(32), base.substr(32)) << number;
  }
}

TEST(CardImage, CardNumberThatIsNoIntegerNamesTheField) {
  struct Case {
    std::string line, field;
  } cases[] = {
      {"", ""},
      {"Sa 10:15:23", ""},
      {"Sa 10:15:23        12", "12x"},
      {"Sa 10:15:23        4101  ", "4101  "},
      {"Sa 10:15:23              ", "      "},
      {"Sa 10:15:23        12a456 0.00", "12a456"},
  };
  cases[2].line += "x";
  for (const auto& c : cases) {
    ByteString image = MakeTemplateImage();
    try {
      FillCardImageFromLine(c.line, image, 10, 0);
      ADD_FAILURE() << "accepted '" << c.line << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + c.field + "' is not a valid integer value");
    }
  }
}

}  // namespace

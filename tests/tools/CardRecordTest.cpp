#include "tools/CardRecord.h"

#include <gtest/gtest.h>

#include "simulator/CardImage.h"

namespace {
constexpr int Ten = 10 * 3600;

ByteString WorkedExampleImage() {
  std::string line = "Sa 10:15:23        234567    0.00   1.00  45.30 31   5.12  32  12.05";
  ByteString image = MakeTemplateImage();
  FillCardImageFromLine(line, image, 10, 0);
  return image;
}
}  // namespace

TEST(CardRecord, DecodesTheWorkedExample) {
  TCardRecord card = DecodeCardImage(WorkedExampleImage());
  EXPECT_EQ(card.Number, 34567);
  EXPECT_EQ(card.Series, 2);
  EXPECT_EQ(FormatCardTime(card.Check, Ten), "0:00:00");
  EXPECT_EQ(FormatCardTime(card.Start, Ten), "0:01:00");
  EXPECT_EQ(FormatCardTime(card.Finish, Ten), "0:45:30");
  ASSERT_EQ(card.PunchCount, 3);
  ASSERT_EQ(card.Punches.size(), 3u);
  EXPECT_EQ(card.Punches[0].Code, 31);
  EXPECT_EQ(FormatCardTime(card.Punches[0].Seconds, Ten), "0:05:12");
  EXPECT_EQ(card.Punches[1].Code, 32);
  EXPECT_EQ(FormatCardTime(card.Punches[1].Seconds, Ten), "0:12:05");
  EXPECT_EQ(card.Punches[2].Code, 0);
}

TEST(CardRecord, TemplateHasNoTimes) {
  // The template's single record holds a raw time of 0, two hours before a 10:00 base.
  TCardRecord card = DecodeCardImage(MakeTemplateImage());
  EXPECT_EQ(card.Number, 4101);
  EXPECT_EQ(card.Series, 1);
  EXPECT_FALSE(card.Start.has_value());
  EXPECT_EQ(FormatCardJson(card, Ten),
            "{\"card\":4101,\"series\":1,\"check\":null,\"check_seconds\":null,"
            "\"start\":null,\"start_seconds\":null,\"finish\":null,\"finish_seconds\":null,"
            "\"punch_count\":1,\"punches\":[{\"code\":0,\"time\":\"2:00:00\",\"seconds\":7200,"
            "\"empty\":true}]}");
}

TEST(CardRecord, TimesBeforeTheBaseWrapAndOtherBasesShift) {
  EXPECT_EQ(FormatCardTime(Ten - 1, Ten), "11:59:59");
  EXPECT_EQ(FormatCardTime(0, 0), "0:00:00");
  // 14:00 and 02:00 are the same on the 12-hour clock.
  EXPECT_EQ(FormatCardTime(2 * 3600 + 75, 14 * 3600), "0:01:15");
  EXPECT_EQ(FormatCardTime(std::nullopt, Ten), "-");
}

TEST(CardRecord, PunchesBeyondThirtyHaveCodesOnly) {
  ByteString image = MakeTemplateImage();
  image[23] = 36;
  image[32] = 77;   // punch 31
  image[112] = 88;  // punch 36
  TCardRecord card = DecodeCardImage(image);
  ASSERT_EQ(card.Punches.size(), 36u);
  EXPECT_EQ(card.Punches[30].Code, 77);
  EXPECT_FALSE(card.Punches[30].Seconds.has_value());
  EXPECT_EQ(card.Punches[35].Code, 88);
  // A count byte beyond the image's room is capped, never read past the 128 bytes.
  image[23] = static_cast<char>(200);
  EXPECT_EQ(DecodeCardImage(image).Punches.size(), 36u);
}

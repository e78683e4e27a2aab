#include <gtest/gtest.h>

#include <algorithm>

#include "simulator/StationMessages.h"

namespace {

ByteString ImageFilled(std::uint8_t value) { return ByteString(128, static_cast<char>(value)); }

TEST(StationMessages, FixedMessagesAreTheStationBytes) {
  EXPECT_EQ(VersionRequest, "\x02q\x03");
  EXPECT_EQ(VersionRequestDoubled, "\x02\x02q\x03");
  EXPECT_EQ(VersionReply, MakeBytes({0x02, 0x71, 0x10, 0x0C, 0x53, 0x03}));
  EXPECT_EQ(CardInAnnouncement, "\x02" "FI\x03");
  EXPECT_EQ(DataRequest1, "\x02" "1\x03");
  EXPECT_EQ(DataRequest2, "\x02" "2\x03");
}

TEST(EscapeControlBytes, PrefixesEveryByteBelow0x20AndKeepsOrder) {
  struct Case {
    ByteString source, expected;
  } cases[] = {
      {"", ""},
      {MakeBytes({0x00}), MakeBytes({0x10, 0x00})},
      {MakeBytes({0x10}), MakeBytes({0x10, 0x10})},
      {MakeBytes({0x1F}), MakeBytes({0x10, 0x1F})},
      {MakeBytes({0x20}), MakeBytes({0x20})},
      {MakeBytes({0xFF, 0x02, 0x41, 0x03}), MakeBytes({0xFF, 0x10, 0x02, 0x41, 0x10, 0x03})},
      {MakeBytes({0x10, 0x10}), MakeBytes({0x10, 0x10, 0x10, 0x10})},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeControlBytes(c.source), c.expected);
}

TEST(FrameCardData, AllZeroImageIsFullyEscaped) {
  const ByteString message = FrameCardData(ImageFilled(0x00));
  ASSERT_EQ(message.size(), 262u);
  EXPECT_EQ(message.substr(0, 4), CardDataHeader);
  for (std::size_t i = 4; i < 260; i += 2) {
    ASSERT_EQ(ByteAt(message, i), 0x10) << i;
    ASSERT_EQ(ByteAt(message, i + 1), 0x00) << i;
  }
  EXPECT_EQ(ByteAt(message, 260), 0x01);
  EXPECT_EQ(ByteAt(message, 261), 0x03);
}

TEST(FrameCardData, ImageWithoutControlBytesIsSentAsItIs) {
  const ByteString image = ImageFilled(0x41);
  const ByteString message = FrameCardData(image);
  ASSERT_EQ(message.size(), 134u);
  EXPECT_EQ(message.substr(4, 128), image);
  EXPECT_EQ(ByteAt(message, 132), (128 * 0x41 + 1) % 256);
}

// The checksum is appended raw, whatever its value, directly before the ETX.
TEST(FrameCardData, ChecksumByteIsNeverEscaped) {
  struct Case {
    int sum;
    std::uint8_t checksum;
  } cases[] = {{255, 0x00}, {511, 0x00}, {256 * 100 + 255, 0x00}, {2, 0x03},
               {1, 0x02},   {15, 0x10},  {32640, 0x81}};
  for (const auto& c : cases) {
    // Spread the sum over bytes of 0x20 or more where possible, so only the tail is escaped.
    ByteString image(128, '\0');
    int rest = c.sum;
    for (std::size_t i = 0; i < 128 && rest > 0; ++i) {
      const int b = rest >= 255 ? 255 : rest;
      image[i] = static_cast<char>(b);
      rest -= b;
    }
    ASSERT_EQ(rest, 0);
    const ByteString message = FrameCardData(image);
    EXPECT_EQ(CardChecksum(image), c.checksum) << c.sum;
    ASSERT_GE(message.size(), 134u);
    EXPECT_EQ(ByteAt(message, message.size() - 2), c.checksum) << c.sum;
    EXPECT_EQ(ByteAt(message, message.size() - 1), 0x03);
    EXPECT_EQ(message.size(), 134u + std::count_if(image.begin(), image.end(), [](char b) {
                                return static_cast<std::uint8_t>(b) < 0x20;
                              }));
  }
}

}  // namespace

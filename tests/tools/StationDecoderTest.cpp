#include "tools/StationDecoder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "simulator/CardImage.h"
#include "simulator/StationMessages.h"

namespace {

std::vector<ByteString> ExampleLines() {
  std::ifstream in(KORVEX_EXAMPLES_DIR "/data.epl", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), {});
  std::vector<ByteString> lines;
  std::size_t at = 0;
  while (at < all.size()) {
    std::size_t cr = all.find('\r', at);
    if (cr == std::string::npos) cr = all.size();
    lines.push_back(all.substr(at, cr - at));
    at = cr + 1;
    if (at < all.size() && all[at] == '\n') ++at;
  }
  return lines;
}

ByteString ImageOf(const ByteString& line) {
  ByteString image = MakeTemplateImage();
  FillCardImageFromLine(line, image, 10, 0);
  return image;
}

}  // namespace

TEST(StationDecoder, EveryExampleCardSurvivesFramingWholeOrByteByByte) {
  auto lines = ExampleLines();
  ASSERT_GE(lines.size(), 10u);
  for (const ByteString& line : lines) {
    ByteString image = ImageOf(line);
    ByteString frame = FrameCardData(image);

    TStationDecoder whole;
    auto got = whole.Feed(frame);
    ASSERT_EQ(got.size(), 1u) << line;
    EXPECT_EQ(got[0].Kind, TStationMessageKind::CardData);
    EXPECT_EQ(got[0].Image, image);

    TStationDecoder trickle;
    std::vector<TStationMessage> pieces;
    for (char b : frame)
      for (auto& m : trickle.Feed(ByteString(1, b))) pieces.push_back(m);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].Image, image);
    EXPECT_EQ(trickle.Pending(), 0u);
  }
}

TEST(StationDecoder, FixedMessagesBetweenCards) {
  ByteString image = MakeTemplateImage();
  ByteString stream = VersionReply + CardInAnnouncement + FrameCardData(image) + DataRequest2;
  TStationDecoder d;
  auto got = d.Feed(stream);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].Kind, TStationMessageKind::VersionReply);
  EXPECT_EQ(got[1].Kind, TStationMessageKind::CardIn);
  EXPECT_EQ(got[2].Kind, TStationMessageKind::CardData);
  EXPECT_EQ(got[3].Kind, TStationMessageKind::DataRequest);
}

TEST(StationDecoder, ChecksumZeroAndEtxValuedChecksumAreRaw) {
  // Byte sums of the form 256m + 255 give checksum 0x00; 256m + 2 gives 0x03.
  for (int sum : {255, 511, 2, 258}) {
    ByteString image(128, '\0');
    int left = sum;
    for (std::size_t i = 0; i < 128 && left > 0; ++i) {
      int v = std::min(left, 0xFF);
      image[i] = static_cast<char>(v);
      left -= v;
    }
    TStationDecoder d;
    auto got = d.Feed(FrameCardData(image));
    ASSERT_EQ(got.size(), 1u) << sum;
    EXPECT_EQ(got[0].Kind, TStationMessageKind::CardData) << got[0].Problem;
    EXPECT_EQ(got[0].Image, image);
  }
}

TEST(StationDecoder, CorruptFramesAreReportedAndSkipped) {
  ByteString image = ImageOf(ExampleLines().at(0));
  ByteString good = FrameCardData(image);

  ByteString badSum = good;
  badSum[badSum.size() - 2] = static_cast<char>(badSum[badSum.size() - 2] + 1);

  ByteString truncated = good.substr(0, 60);  // a new frame starts inside the image

  ByteString noEtx = good;
  noEtx.back() = 'x';

  struct Case {
    const char* Name;
    ByteString Stream;
    TStationMessageKind First;
  } cases[] = {{"bad checksum", badSum + good, TStationMessageKind::Corrupt},
               {"truncated", truncated + good, TStationMessageKind::Corrupt},
               {"no ETX", noEtx + good, TStationMessageKind::Corrupt},
               {"garbage first", MakeBytes({0x55, 0x0D, 0x0A}) + good, TStationMessageKind::Noise},
               {"unknown frame", MakeBytes({0x02, 0x7A, 0x03}) + good, TStationMessageKind::Noise}};
  for (const Case& c : cases) {
    TStationDecoder d;
    auto got = d.Feed(c.Stream);
    ASSERT_GE(got.size(), 2u) << c.Name;
    EXPECT_EQ(got.front().Kind, c.First) << c.Name;
    EXPECT_FALSE(got.front().Problem.empty()) << c.Name;
    EXPECT_EQ(got.back().Kind, TStationMessageKind::CardData) << c.Name;
    EXPECT_EQ(got.back().Image, image) << c.Name;
  }
}

TEST(StationDecoder, IncompleteFrameWaitsForTheRest) {
  ByteString frame = FrameCardData(MakeTemplateImage());
  TStationDecoder d;
  EXPECT_TRUE(d.Feed(frame.substr(0, frame.size() - 1)).empty());
  EXPECT_EQ(d.Feed(frame.substr(frame.size() - 1)).size(), 1u);
}

TEST(StationDecoder, RequestsAreNamedAndEachRunOfNoiseIsOneReport) {
  // Requests another reader sends; noise holding STX bytes that start nothing; a huge run of
  // noise in one chunk; and a run that continues while a frame start waits for more bytes.
  const ByteString noise = ByteString("ab") + MakeBytes({0x02, 0x02, 0x7A});
  const ByteString flood(1 << 20, 'x');
  TStationDecoder d;
  auto got = d.Feed(noise + VersionRequest + noise + DataRequest1 + VersionRequestDoubled +
                    DataRequest2 + flood + CardInAnnouncement + "zz" + ByteString(1, 0x02));
  auto more = d.Feed(MakeBytes({0x71, 0x03}));
  got.insert(got.end(), more.begin(), more.end());
  using K = TStationMessageKind;
  const std::vector<std::pair<K, std::string>> expected = {
      {K::Noise, "5 bytes of noise"}, {K::VersionRequest, ""}, {K::Noise, "5 bytes of noise"},
      {K::DataRequest, ""},           {K::VersionRequest, ""}, {K::DataRequest, ""},
      {K::Noise, std::to_string(flood.size()) + " bytes of noise"},
      {K::CardIn, ""},                {K::Noise, "2 bytes of noise"}, {K::VersionRequest, ""}};
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].Kind, expected[i].first) << i;
    EXPECT_EQ(got[i].Problem, expected[i].second) << i;
  }
  EXPECT_EQ(d.Pending(), 0u);
}

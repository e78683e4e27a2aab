#include "simulator/CardImage.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "simulator/NumberText.h"
#include "simulator/PunchFile.h"
#include "toolkit/Exception.h"

namespace {

constexpr std::int32_t SecondsPer12Hours = 43200;

constexpr std::size_t CardNumberOffset = 4;  // 4-5: number within the series; 6: series
constexpr std::size_t SeriesOffset = 6;
constexpr std::size_t StartTimeOffset = 19;
constexpr std::size_t FinishTimeOffset = 21;
constexpr std::size_t PunchCountOffset = 23;
constexpr std::size_t CheckTimeOffset = 25;

// The characters of the field that exist; possibly none.
std::string_view Field(const ByteString& line, std::size_t column, std::size_t width) {
  if (column >= line.size()) return {};
  return std::string_view(line).substr(column, width);
}

void PutByte(ByteString& image, std::size_t offset, std::int32_t value) {
  image[offset] = static_cast<char>(static_cast<std::uint32_t>(value) & 0xFF);
}

void PlacePunch(ByteString& image, int i, const PunchRecord& record, int hours, int minutes) {
  if (i <= 30) {
    const int q = (i - 1) / 5, r = (i - 1) % 5;
    const std::size_t offset = 33 + 16 * q + 3 * r;
    PutByte(image, offset, record.Code);
    PutCardTime(image, offset + 1, record.Time, hours, minutes);
  } else {
    PutByte(image, 32 + 16 * (i - 31), record.Code);  // punches 31-36 carry no time
  }
}

void CheckImageSize(const ByteString& image) {
  if (image.size() != CardImageSize) throw Exception("Card image must be 128 bytes");
}

}  // namespace

ByteString MakeTemplateImage() {
  ByteString image(CardImageSize, '\0');
  const ByteString head = MakeBytes({0xAA, 0x2A, 0x00, 0x01, 0x10, 0x05, 0x01, 0x00, 0x00, 0x00,
                                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x65, 0x10, 0x05, 0xEE,
                                     0xEE, 0xEE, 0xEE, 0x01, 0x56, 0xEE, 0xEE, 0x1E, 0x01, 0x16,
                                     0x01, 0x01});
  image.replace(0, head.size(), head);
  return image;
}

void PutCardTime(ByteString& image, std::size_t offset, double value, int hours, int minutes) {
  // 32-bit signed arithmetic with wrap-around, done unsigned so that overflow is defined.
  const std::int32_t m = WrapToInt32(std::trunc(value));
  const std::int32_t r = RoundHalfEven((value - m) * 100.0);
  const std::uint32_t sum = static_cast<std::uint32_t>(m) * 60u + static_cast<std::uint32_t>(r) +
                            static_cast<std::uint32_t>(hours) * 3600u +
                            static_cast<std::uint32_t>(minutes) * 60u;
  const std::int32_t s = static_cast<std::int32_t>(sum);
  const std::int32_t t = s % SecondsPer12Hours;  // sign of the dividend, as the clock wants
  PutByte(image, offset, t / 256);
  PutByte(image, offset + 1, t);
}

TPunchLine ReadPunchLine(const ByteString& line) {
  TPunchLine p;
  p.Number = TextToInteger(Field(line, CardNumberColumn, CardNumberWidth));
  if (p.Number <= 0) return p;
  p.Check = TextToReal(Field(line, CheckColumn, TimeWidth));
  p.Start = TextToReal(Field(line, StartColumn, TimeWidth));
  p.Finish = TextToReal(Field(line, FinishColumn, TimeWidth));
  for (int i = 1; i <= PunchFieldCount; ++i) {
    if (line.size() >= PunchFieldEnd(i)) {
      p.Records[i].Code = TextToRounded(Field(line, PunchCodeColumn(i), PunchCodeWidth));
      p.Records[i].Time = TextToReal(Field(line, PunchTimeColumn(i), PunchTimeWidth));
      if (p.Records[i].Code == 0 && p.Count == 0) p.Count = i - 1;
    } else if (p.Count == 0) {
      p.Count = i;
    }
  }
  return p;
}

void FillCardImageFromLine(const ByteString& line, ByteString& image, int hours, int minutes) {
  CheckImageSize(image);
  const TPunchLine p = ReadPunchLine(line);

  if (p.Number >= 200000) PutByte(image, SeriesOffset, p.Number / 100000);
  const std::int32_t withinSeries = p.Number % 100000;
  PutByte(image, CardNumberOffset, withinSeries / 256);
  PutByte(image, CardNumberOffset + 1, withinSeries);

  // The card holds 36 records; a longer list is cut there and the count says what is placed.
  const int count = std::min(p.Count, CardPunchCapacity);
  PutByte(image, PunchCountOffset, count);

  // Without a card number no times were read: the template's empty times stay.
  if (p.Number > 0) {
    PutCardTime(image, StartTimeOffset, p.Start, hours, minutes);
    PutCardTime(image, CheckTimeOffset, p.Check, hours, minutes);
    PutCardTime(image, FinishTimeOffset, p.Finish, hours, minutes);
  }
  for (int i = 1; i <= count; ++i) PlacePunch(image, i, p.Records[i], hours, minutes);
}

void FillCardImage(TPunchFile& punchFile, ByteString& image, int hours, int minutes) {
  CheckImageSize(image);
  if (punchFile.Eof()) return;
  const ByteString line = punchFile.ReadLine();
  FillCardImageFromLine(line, image, hours, minutes);
}

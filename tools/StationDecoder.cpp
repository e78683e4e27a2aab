#include "tools/StationDecoder.h"

#include <algorithm>

#include "simulator/StationMessages.h"

namespace {

constexpr std::size_t CardDataImageSize = 128;

// How the buffer's start compares with a fixed message: whole, a prefix of it, or neither.
enum class TMatch : std::uint8_t { Whole, Prefix, No };

TMatch MatchFixed(const ByteString& buffer, const ByteString& message) {
  std::size_t n = std::min(buffer.size(), message.size());
  if (buffer.compare(0, n, message, 0, n) != 0) return TMatch::No;
  return n == message.size() ? TMatch::Whole : TMatch::Prefix;
}

}  // namespace

std::vector<TStationMessage> TStationDecoder::Feed(const ByteString& bytes) {
  FBuffer += bytes;
  std::vector<TStationMessage> out;
  while (!FBuffer.empty() && TakeOne(out) == TStep::Done) {
  }
  return out;
}

void TStationDecoder::Corrupt(std::vector<TStationMessage>& out, std::string problem,
                              std::size_t skip) {
  out.push_back({TStationMessageKind::Corrupt, {}, std::move(problem)});
  FBuffer.erase(0, skip);
}

TStationDecoder::TStep TStationDecoder::TakeOne(std::vector<TStationMessage>& out) {
  if (FBuffer[0] != static_cast<char>(STX)) {
    // Bytes outside any frame: drop them up to the next STX in one report.
    std::size_t next = FBuffer.find(static_cast<char>(STX));
    Corrupt(out, "stray bytes outside a frame: " +
                     std::to_string(next == ByteString::npos ? FBuffer.size() : next),
            next == ByteString::npos ? FBuffer.size() : next);
    return TStep::Done;
  }
  struct Fixed {
    const ByteString& Bytes;
    TStationMessageKind Kind;
  };
  const Fixed fixed[] = {{VersionReply, TStationMessageKind::VersionReply},
                         {CardInAnnouncement, TStationMessageKind::CardIn},
                         {DataRequest1, TStationMessageKind::DataRequest},
                         {DataRequest2, TStationMessageKind::DataRequest}};
  bool maybe = false;
  for (const Fixed& f : fixed) {
    TMatch m = MatchFixed(FBuffer, f.Bytes);
    if (m == TMatch::Whole) {
      out.push_back({f.Kind, {}, {}});
      FBuffer.erase(0, f.Bytes.size());
      return TStep::Done;
    }
    maybe = maybe || m == TMatch::Prefix;
  }
  TMatch header = MatchFixed(FBuffer, CardDataHeader);
  if (header == TMatch::Whole) return TakeCardData(out);
  if (maybe || header == TMatch::Prefix) return TStep::NeedMore;
  Corrupt(out, "unknown frame", 1);
  return TStep::Done;
}

TStationDecoder::TStep TStationDecoder::TakeCardData(std::vector<TStationMessage>& out) {
  ByteString image;
  std::size_t at = CardDataHeader.size();
  while (image.size() < CardDataImageSize) {
    if (at >= FBuffer.size()) return TStep::NeedMore;
    char b = FBuffer[at];
    if (b == static_cast<char>(DLE)) {
      if (at + 1 >= FBuffer.size()) return TStep::NeedMore;
      char escaped = FBuffer[at + 1];
      if (static_cast<unsigned char>(escaped) >= 0x20) {
        Corrupt(out, "card data: DLE before a byte that needs no escape at image offset " +
                         std::to_string(image.size()),
                at);
        return TStep::Done;
      }
      image.push_back(escaped);
      at += 2;
    } else if (static_cast<unsigned char>(b) < 0x20) {
      // An unescaped control byte inside the image: the frame was cut off (a new one may
      // start right here), so resynchronise at this byte.
      Corrupt(out, "card data truncated after " + std::to_string(image.size()) +
                       " image bytes",
              at);
      return TStep::Done;
    } else {
      image.push_back(b);
      ++at;
    }
  }
  if (at + 2 > FBuffer.size()) return TStep::NeedMore;
  std::uint8_t expected = CardChecksum(image);
  auto checksum = static_cast<unsigned char>(FBuffer[at]);
  if (FBuffer[at + 1] != static_cast<char>(ETX)) {
    Corrupt(out, "card data: no ETX after the checksum", at);
    return TStep::Done;
  }
  if (checksum != expected) {
    Corrupt(out, "card data: checksum " + std::to_string(checksum) + ", expected " +
                     std::to_string(expected),
            at + 2);
    return TStep::Done;
  }
  out.push_back({TStationMessageKind::CardData, std::move(image), {}});
  FBuffer.erase(0, at + 2);
  return TStep::Done;
}

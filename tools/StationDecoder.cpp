#include "tools/StationDecoder.h"

#include <algorithm>
#include <string_view>

#include "simulator/StationMessages.h"

namespace {

constexpr std::size_t CardDataImageSize = 128;

// How the unread bytes compare with a fixed message: whole, a prefix of it, or neither.
enum class TMatch : std::uint8_t { Whole, Prefix, No };

TMatch MatchFixed(std::string_view rest, const ByteString& message) {
  std::size_t n = std::min(rest.size(), message.size());
  if (rest.compare(0, n, message, 0, n) != 0) return TMatch::No;
  return n == message.size() ? TMatch::Whole : TMatch::Prefix;
}

}  // namespace

std::vector<TStationMessage> TStationDecoder::Feed(const ByteString& bytes) {
  FBuffer += bytes;
  std::vector<TStationMessage> out;
  while (FStart < FBuffer.size() && TakeOne(out) == TStep::Done) {
  }
  // A run of noise is reported when it ends, or now if nothing waits for more bytes: a
  // frame still incomplete may yet turn out to be noise too.
  if (FStart == FBuffer.size()) FlushNoise(out);
  FBuffer.erase(0, FStart);
  FStart = 0;
  return out;
}

void TStationDecoder::Take(std::vector<TStationMessage>& out, TStationMessage message,
                           std::size_t length) {
  FlushNoise(out);
  out.push_back(std::move(message));
  FStart += length;
}

void TStationDecoder::Corrupt(std::vector<TStationMessage>& out, std::string problem,
                              std::size_t skip) {
  Take(out, {TStationMessageKind::Corrupt, {}, std::move(problem)}, skip);
}

void TStationDecoder::SkipNoise(std::size_t length) noexcept {
  FNoise += length;
  FStart += length;
}

void TStationDecoder::FlushNoise(std::vector<TStationMessage>& out) {
  if (FNoise == 0) return;
  out.push_back({TStationMessageKind::Noise, {},
                 std::to_string(FNoise) + (FNoise == 1 ? " byte" : " bytes") + " of noise"});
  FNoise = 0;
}

TStationDecoder::TStep TStationDecoder::TakeOne(std::vector<TStationMessage>& out) {
  const std::string_view rest = std::string_view(FBuffer).substr(FStart);
  if (rest[0] != static_cast<char>(STX)) {
    const std::size_t next = rest.find(static_cast<char>(STX));
    SkipNoise(next == std::string_view::npos ? rest.size() : next);
    return TStep::Done;
  }
  struct Fixed {
    const ByteString& Bytes;
    TStationMessageKind Kind;
  };
  const Fixed fixed[] = {{VersionReply, TStationMessageKind::VersionReply},
                         {CardInAnnouncement, TStationMessageKind::CardIn},
                         {VersionRequest, TStationMessageKind::VersionRequest},
                         {VersionRequestDoubled, TStationMessageKind::VersionRequest},
                         {DataRequest1, TStationMessageKind::DataRequest},
                         {DataRequest2, TStationMessageKind::DataRequest}};
  bool maybe = false;
  for (const Fixed& f : fixed) {
    const TMatch m = MatchFixed(rest, f.Bytes);
    if (m == TMatch::Whole) {
      Take(out, {f.Kind, {}, {}}, f.Bytes.size());
      return TStep::Done;
    }
    maybe = maybe || m == TMatch::Prefix;
  }
  const TMatch header = MatchFixed(rest, CardDataHeader);
  if (header == TMatch::Whole) return TakeCardData(out);
  if (maybe || header == TMatch::Prefix) return TStep::NeedMore;
  SkipNoise(1);
  return TStep::Done;
}

TStationDecoder::TStep TStationDecoder::TakeCardData(std::vector<TStationMessage>& out) {
  const std::string_view frame = std::string_view(FBuffer).substr(FStart);
  ByteString image;
  std::size_t at = CardDataHeader.size();
  while (image.size() < CardDataImageSize) {
    if (at >= frame.size()) return TStep::NeedMore;
    const char b = frame[at];
    if (b == static_cast<char>(DLE)) {
      if (at + 1 >= frame.size()) return TStep::NeedMore;
      const char escaped = frame[at + 1];
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
  if (at + 2 > frame.size()) return TStep::NeedMore;
  const std::uint8_t expected = CardChecksum(image);
  const auto checksum = static_cast<unsigned char>(frame[at]);
  if (frame[at + 1] != static_cast<char>(ETX)) {
    Corrupt(out, "card data: no ETX after the checksum", at);
    return TStep::Done;
  }
  if (checksum != expected) {
    Corrupt(out, "card data: checksum " + std::to_string(checksum) + ", expected " +
                     std::to_string(expected),
            at + 2);
    return TStep::Done;
  }
  Take(out, {TStationMessageKind::CardData, std::move(image), {}}, at + 2);
  return TStep::Done;
}

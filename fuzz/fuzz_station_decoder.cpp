// Arbitrary bytes from the line, given to the card reader's decoder whole and in pieces.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "simulator/CardImage.h"
#include "simulator/StationMessages.h"
#include "tools/StationDecoder.h"

namespace {

// What a decoder made of the bytes, with its reports of bad bytes (those carry a problem) left
// out: how many there are depends on where the reads split the stream.
struct TDecoded {
  std::vector<TStationMessageKind> Kinds;
  std::vector<ByteString> Images;
  std::size_t Pending = 0;
};

void Take(TDecoded& decoded, const std::vector<TStationMessage>& messages) {
  for (const TStationMessage& m : messages) {
    if (m.Kind == TStationMessageKind::Corrupt || !m.Problem.empty()) continue;
    decoded.Kinds.push_back(m.Kind);
    if (m.Kind != TStationMessageKind::CardData) continue;
    FUZZ_CHECK(m.Image.size() == CardImageSize);
    decoded.Images.push_back(m.Image);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteString bytes(reinterpret_cast<const char*>(data), size);

  TDecoded whole;
  {
    TStationDecoder decoder;
    Take(whole, decoder.Feed(bytes));
    whole.Pending = decoder.Pending();
  }

  // Reads of 1 to 16 bytes, the sizes drawn from the bytes themselves.
  TDecoded pieces;
  {
    TStationDecoder decoder;
    std::uint32_t seed = static_cast<std::uint32_t>(size) * 2654435761u;
    for (std::size_t at = 0; at < size;) {
      seed = seed * 1103515245u + 12345u + static_cast<std::uint8_t>(bytes[at]);
      const std::size_t n = std::min<std::size_t>(1 + (seed >> 16) % 16, size - at);
      Take(pieces, decoder.Feed(bytes.substr(at, n)));
      at += n;
    }
    pieces.Pending = decoder.Pending();
  }
  FUZZ_CHECK(pieces.Kinds == whole.Kinds);
  FUZZ_CHECK(pieces.Images == whole.Images);
  FUZZ_CHECK(pieces.Pending == whole.Pending);
  FUZZ_CHECK(whole.Pending <= size);

  // Every image decoded is framed again into a message that decodes to just that image.
  for (const ByteString& image : whole.Images) {
    TStationDecoder decoder;
    const auto again = decoder.Feed(FrameCardData(image));
    FUZZ_CHECK(again.size() == 1);
    FUZZ_CHECK(again[0].Kind == TStationMessageKind::CardData);
    FUZZ_CHECK(again[0].Image == image);
    FUZZ_CHECK(decoder.Pending() == 0);
  }
  return 0;
}

#pragma once
// Splits the bytes a station sends into its messages: version reply, card-in announcement and
// card data (DLE unescaping and checksum check). Corrupt or truncated frames are reported as
// such and skipped; the decoder resynchronises at the next STX.
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/ByteString.h"

enum class TStationMessageKind : std::uint8_t {
  VersionReply,
  CardIn,
  DataRequest,  // another simulator asks us for data
  CardData,
  Corrupt,
};

struct TStationMessage {
  TStationMessageKind Kind;
  ByteString Image;     // the unescaped 128-byte image of a card data message
  std::string Problem;  // what was wrong with a corrupt frame
};

class TStationDecoder {
 public:
  // Appends received bytes and returns every message completed by them, in order.
  std::vector<TStationMessage> Feed(const ByteString& bytes);
  // Bytes held back because the frame they start is not complete yet.
  std::size_t Pending() const noexcept { return FBuffer.size(); }

 private:
  enum class TStep : std::uint8_t { Done, NeedMore };
  TStep TakeOne(std::vector<TStationMessage>& out);
  TStep TakeCardData(std::vector<TStationMessage>& out);
  void Corrupt(std::vector<TStationMessage>& out, std::string problem, std::size_t skip);

  ByteString FBuffer;
};

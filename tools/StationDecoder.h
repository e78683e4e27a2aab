#pragma once
// Splits the bytes on the line into station messages: the station's version reply, card-in
// announcement and card data (DLE unescaping and checksum check), and the requests that event
// software sends (version and data requests), which a reader may see from another reader or
// a simulator. Corrupt frames are reported and skipped; bytes that start no message are noise,
// reported once per run. The decoder resynchronises at the next STX.
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/ByteString.h"

enum class TStationMessageKind : std::uint8_t {
  VersionReply,
  CardIn,
  VersionRequest,  // another reader or a simulator asks for the version
  DataRequest,     // another reader or a simulator asks for data
  CardData,
  Corrupt,         // a card data frame that failed its checks
  Noise,           // a run of bytes that start no message
};

struct TStationMessage {
  TStationMessageKind Kind;
  ByteString Image;     // the unescaped 128-byte image of a card data message
  std::string Problem;  // what was wrong with a corrupt frame, or the size of a noise run
};

class TStationDecoder {
 public:
  // Appends received bytes and returns every message completed by them, in order. Linear in
  // the bytes given: the buffer is only consumed from a moving start and compacted once.
  std::vector<TStationMessage> Feed(const ByteString& bytes);
  // Bytes held back because the frame they start is not complete yet.
  std::size_t Pending() const noexcept { return FBuffer.size() - FStart; }

 private:
  enum class TStep : std::uint8_t { Done, NeedMore };
  TStep TakeOne(std::vector<TStationMessage>& out);
  TStep TakeCardData(std::vector<TStationMessage>& out);
  void Take(std::vector<TStationMessage>& out, TStationMessage message, std::size_t length);
  void Corrupt(std::vector<TStationMessage>& out, std::string problem, std::size_t skip);
  void SkipNoise(std::size_t length) noexcept;
  void FlushNoise(std::vector<TStationMessage>& out);

  ByteString FBuffer;
  std::size_t FStart = 0;   // first byte not yet consumed
  std::size_t FNoise = 0;   // noise bytes skipped and not yet reported
};

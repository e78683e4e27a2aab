#pragma once
// The station's messages: the fixed byte strings exchanged with the administration software,
// and the one message assembled at run time, the card data message.
#include <cstdint>

#include "toolkit/ByteString.h"

inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t ETX = 0x03;
inline constexpr std::uint8_t DLE = 0x10;

// 02 71 03 "q": sent by hand; answered when it is the whole received buffer.
inline const ByteString VersionRequest = MakeBytes({0x02, 0x71, 0x03});
// 02 02 71 03: the same request with a doubled start, as some software sends it.
inline const ByteString VersionRequestDoubled = MakeBytes({0x02, 0x02, 0x71, 0x03});
// 02 71 10 0C 53 03: the fixed answer to either form of the version request.
inline const ByteString VersionReply = MakeBytes({0x02, 0x71, 0x10, 0x0C, 0x53, 0x03});
// 02 46 49 03 "FI": a card has been inserted.
inline const ByteString CardInAnnouncement = MakeBytes({0x02, 0x46, 0x49, 0x03});
// 02 31 03 "1": data request, form 1; also our answer to a card-in announcement.
inline const ByteString DataRequest1 = MakeBytes({0x02, 0x31, 0x03});
// 02 32 03 "2": data request, form 2.
inline const ByteString DataRequest2 = MakeBytes({0x02, 0x32, 0x03});
// 02 31 10 01: the header in front of the escaped card image.
inline const ByteString CardDataHeader = MakeBytes({0x02, 0x31, 0x10, 0x01});

// Every byte 0x00-0x1F gets a DLE in front of it; other bytes are copied as they are.
ByteString EscapeControlBytes(const ByteString& source);

// Checksum of a card image: (sum of its unsigned bytes + 1) mod 256.
std::uint8_t CardChecksum(const ByteString& image);

// Header, escaped image, checksum (over the unescaped image, itself never escaped), ETX.
ByteString FrameCardData(const ByteString& image);

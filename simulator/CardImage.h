#pragma once
// The 128-byte card image (memory of a version 5 KX card) and how a punch-file line fills it.
#include <cstddef>
#include <cstdint>

#include "toolkit/ByteString.h"

class TPunchFile;

inline constexpr std::size_t CardImageSize = 128;
// Punch fields a line may hold, and punch records the image has room for.
inline constexpr int PunchFieldCount = 50;
inline constexpr int CardPunchCapacity = 36;

struct PunchRecord {
  std::int32_t Code = 0;
  double Time = 0.0;  // minutes.seconds
};

// 128 bytes: all 0x00 overlaid with the template (card 4101, series 1, no times, one punch).
ByteString MakeTemplateImage();

// Stores value (minutes.seconds after the base hours:minutes) as seconds on a 12-hour clock
// in image[offset] (high byte) and image[offset + 1].
void PutCardTime(ByteString& image, std::size_t offset, double value, int hours, int minutes);

// Fills the card's fields of image (holding the template) from one punch-file line.
// Raises EConvertError when the card number field is not an integer.
void FillCardImageFromLine(const ByteString& line, ByteString& image, int hours, int minutes);

// Takes the next line of punchFile into image; at the end of the file the image is left as
// it is. Raises the file's EInOutError and the line's EConvertError; the line is consumed
// either way.
void FillCardImage(TPunchFile& punchFile, ByteString& image, int hours, int minutes);

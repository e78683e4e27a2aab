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

// The columns of a punch-file line, counted from 0.
inline constexpr std::size_t CardNumberColumn = 19, CardNumberWidth = 6;
inline constexpr std::size_t CheckColumn = 26, StartColumn = 33, FinishColumn = 40;
inline constexpr std::size_t TimeWidth = 7;
inline constexpr std::size_t PunchCodeWidth = 3, PunchTimeWidth = 6;
constexpr std::size_t PunchCodeColumn(int i) { return 11 * i + 36; }
constexpr std::size_t PunchTimeColumn(int i) { return 11 * i + 40; }
// The line length from which punch i is present.
constexpr std::size_t PunchFieldEnd(int i) { return 11 * i + 46; }

// One line as the station reads it.
struct TPunchLine {
  std::int32_t Number = 0;
  double Check = 0, Start = 0, Finish = 0;  // read only for a card number above 0
  // Punches the line gives, before the card's room of 36 cuts the list.
  int Count = 0;
  PunchRecord Records[PunchFieldCount + 1];  // 1-based
};

// Reads the fields of one punch-file line. Raises EConvertError when the card number field
// is not an integer.
TPunchLine ReadPunchLine(const ByteString& line);

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

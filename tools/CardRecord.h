#pragma once
// The contents of a 128-byte KX card image, decoded for people and scripts.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/ByteString.h"

struct TPunch {
  int Code = 0;
  std::optional<int> Seconds;  // absent for punches 31 to 36, which carry no time
  // The record of code 0 that the station places after the last punch of a short line.
  bool Empty = false;
};

struct TCardRecord {
  int Number = 0;  // within its series
  int Series = 0;
  std::optional<int> Check, Start, Finish;  // seconds on the 12-hour clock; absent when unset
  int PunchCount = 0;
  std::vector<TPunch> Punches;  // at most 36, as many as the image has room for
};

TCardRecord DecodeCardImage(const ByteString& image);

// Seconds on the 12-hour clock counted from the base time, absent when the time is.
std::optional<int> SecondsAfterBase(std::optional<int> seconds, int baseSeconds);
// The same shown as h:mm:ss, "-" when absent.
std::string FormatCardTime(std::optional<int> seconds, int baseSeconds);
std::string FormatCardLine(const TCardRecord& card, int baseSeconds);
// One JSON object: each time both as "h:mm:ss" and as seconds after the base (null when
// unset); the trailing empty record carries "empty": true.
std::string FormatCardJson(const TCardRecord& card, int baseSeconds);

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
};

struct TCardRecord {
  int Number = 0;  // within its series
  int Series = 0;
  std::optional<int> Check, Start, Finish;  // seconds on the 12-hour clock; absent when unset
  int PunchCount = 0;
  std::vector<TPunch> Punches;  // at most 36, as many as the image has room for
};

TCardRecord DecodeCardImage(const ByteString& image);

// Seconds on the 12-hour clock shown relative to the base time as h:mm:ss, "-" when absent.
std::string FormatCardTime(std::optional<int> seconds, int baseSeconds);
std::string FormatCardLine(const TCardRecord& card, int baseSeconds);
std::string FormatCardJson(const TCardRecord& card, int baseSeconds);

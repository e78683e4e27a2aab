#include "tools/CardRecord.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int HalfDay = 43200;
constexpr std::size_t ImageSize = 128;
constexpr std::size_t MaxPunches = 36;

int Word(const ByteString& image, std::size_t offset) {
  return ByteAt(image, offset) * 256 + ByteAt(image, offset + 1);
}

// 0xEEEE and anything else past the 12-hour clock means "never set".
std::optional<int> TimeAt(const ByteString& image, std::size_t offset) {
  int t = Word(image, offset);
  if (t >= HalfDay) return std::nullopt;
  return t;
}

}  // namespace

TCardRecord DecodeCardImage(const ByteString& image) {
  TCardRecord card;
  if (image.size() != ImageSize) return card;
  card.Number = Word(image, 4);
  card.Series = ByteAt(image, 6);
  card.Start = TimeAt(image, 19);
  card.Finish = TimeAt(image, 21);
  card.PunchCount = ByteAt(image, 23);
  card.Check = TimeAt(image, 25);
  std::size_t n = std::min<std::size_t>(card.PunchCount, MaxPunches);
  for (std::size_t i = 1; i <= n; ++i) {
    TPunch p;
    if (i <= 30) {
      std::size_t q = (i - 1) / 5, r = (i - 1) % 5;
      std::size_t at = 33 + 16 * q + 3 * r;
      p.Code = ByteAt(image, at);
      p.Seconds = TimeAt(image, at + 1);
    } else {
      p.Code = ByteAt(image, 32 + 16 * (i - 31));
    }
    card.Punches.push_back(p);
  }
  if (!card.Punches.empty() && card.Punches.back().Code == 0) card.Punches.back().Empty = true;
  return card;
}

std::optional<int> SecondsAfterBase(std::optional<int> seconds, int baseSeconds) {
  if (!seconds) return std::nullopt;
  return ((*seconds - baseSeconds) % HalfDay + HalfDay) % HalfDay;
}

std::string FormatCardTime(std::optional<int> seconds, int baseSeconds) {
  if (!seconds) return "-";
  const int elapsed = *SecondsAfterBase(seconds, baseSeconds);
  char text[16];
  std::snprintf(text, sizeof text, "%d:%02d:%02d", elapsed / 3600, elapsed / 60 % 60,
                elapsed % 60);
  return text;
}

std::string FormatCardLine(const TCardRecord& card, int baseSeconds) {
  std::string line = "card " + std::to_string(card.Number) + " series " +
                     std::to_string(card.Series) +
                     "  check " + FormatCardTime(card.Check, baseSeconds) +
                     "  start " + FormatCardTime(card.Start, baseSeconds) +
                     "  finish " + FormatCardTime(card.Finish, baseSeconds) +
                     "  punches " + std::to_string(card.PunchCount);
  for (std::size_t i = 0; i < card.Punches.size(); ++i) {
    const TPunch& p = card.Punches[i];
    line += "  " + std::to_string(i + 1) + ":" + std::to_string(p.Code);
    if (p.Seconds) line += "@" + FormatCardTime(p.Seconds, baseSeconds);
    if (p.Empty) line += " (empty)";
  }
  return line;
}

namespace {
std::string JsonTime(std::optional<int> seconds, int baseSeconds) {
  return seconds ? "\"" + FormatCardTime(seconds, baseSeconds) + "\"" : std::string("null");
}

std::string JsonSeconds(std::optional<int> seconds, int baseSeconds) {
  return seconds ? std::to_string(*SecondsAfterBase(seconds, baseSeconds)) : std::string("null");
}
}  // namespace

std::string FormatCardJson(const TCardRecord& card, int baseSeconds) {
  std::string json = "{\"card\":" + std::to_string(card.Number) +
                     ",\"series\":" + std::to_string(card.Series) +
                     ",\"check\":" + JsonTime(card.Check, baseSeconds) +
                     ",\"check_seconds\":" + JsonSeconds(card.Check, baseSeconds) +
                     ",\"start\":" + JsonTime(card.Start, baseSeconds) +
                     ",\"start_seconds\":" + JsonSeconds(card.Start, baseSeconds) +
                     ",\"finish\":" + JsonTime(card.Finish, baseSeconds) +
                     ",\"finish_seconds\":" + JsonSeconds(card.Finish, baseSeconds) +
                     ",\"punch_count\":" + std::to_string(card.PunchCount) + ",\"punches\":[";
  for (std::size_t i = 0; i < card.Punches.size(); ++i) {
    const TPunch& p = card.Punches[i];
    if (i) json += ",";
    json += "{\"code\":" + std::to_string(p.Code) +
            ",\"time\":" + JsonTime(p.Seconds, baseSeconds) +
            ",\"seconds\":" + JsonSeconds(p.Seconds, baseSeconds) +
            (p.Empty ? ",\"empty\":true}" : "}");
  }
  return json + "]}";
}

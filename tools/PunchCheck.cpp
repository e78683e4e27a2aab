#include "tools/PunchCheck.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string_view>

#include "simulator/CardImage.h"
#include "simulator/NumberText.h"
#include "simulator/PunchFile.h"
#include "toolkit/Exception.h"
#include "tools/CardRecord.h"

namespace {

constexpr char EndOfFileMark = 0x1A;

std::string_view Field(const ByteString& line, std::size_t column, std::size_t width) {
  if (column >= line.size()) return {};
  return std::string_view(line).substr(column, width);
}

// Columns as an editor counts them, from 1.
std::string Columns(std::size_t column, std::size_t width) {
  return "columns " + std::to_string(column + 1) + "-" + std::to_string(column + width);
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Why a field that shows a number reads as 0, or empty when it does not (or shows none).
std::string ZeroBecause(std::string_view field) {
  if (TextToReal(field) != 0.0) return {};
  const std::size_t first = field.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::string_view shown = field.substr(first, field.find_last_not_of(' ') + 1 - first);
  // Zeros, signs and points read as 0 whatever their form.
  if (shown.find_first_not_of("+-0.eE") == std::string_view::npos) return {};
  if (shown.find(',') != std::string_view::npos) return "a comma (the decimal point is '.')";
  if (std::any_of(shown.begin(), shown.end(), IsLetter)) return "letters";
  if (field.back() == ' ') return "a trailing blank (the value is not right-aligned)";
  if (shown.find(' ') != std::string_view::npos)
    return "a blank inside (a value not right-aligned in its columns)";
  return "not a number";
}

class TLineCheck {
 public:
  TLineCheck(std::ostream& out, TPunchCheckResult& result) : FOut(out), FResult(result) {}

  void Warning(const std::string& text) {
    ++FResult.Warnings;
    FOut << "  warning: " << text << "\n";
  }
  void Error(const std::string& text) {
    ++FResult.Errors;
    FOut << "  error: " << text << "\n";
  }

  void RealField(const ByteString& line, const std::string& name, std::size_t column,
                 std::size_t width, const std::string& consequence) {
    const std::string_view field = Field(line, column, width);
    const std::string because = ZeroBecause(field);
    if (!because.empty())
      Warning(name + ", " + Columns(column, width) + " '" + std::string(field) + "': " +
              because + "; it reads as 0" + consequence);
  }

  // A gap column is never read: a character there belongs to a value out of its columns.
  void Gap(const ByteString& line, std::size_t column, const std::string& between) {
    if (column < line.size() && line[column] != ' ')
      Warning("column " + std::to_string(column + 1) + " (" + between + ") holds '" +
              line[column] + "', which is never read: a value not right-aligned in its columns");
  }

 private:
  std::ostream& FOut;
  TPunchCheckResult& FResult;
};

void CheckLine(const ByteString& line, int number, int hours, int minutes, std::ostream& out,
               TPunchCheckResult& result) {
  TLineCheck check(out, result);
  TPunchLine read;
  try {
    read = ReadPunchLine(line);
  } catch (const EConvertError& e) {
    out << "line " << number << ": no card\n";
    check.Error("card number, " + Columns(CardNumberColumn, CardNumberWidth) + ": " +
                e.Message() + (line.empty() ? " (an empty line)" : "") +
                "; the request that reads this line fails, the next one takes the next line");
    return;
  }
  ++result.Cards;
  ByteString image = MakeTemplateImage();
  FillCardImageFromLine(line, image, hours, minutes);
  const TCardRecord card = DecodeCardImage(image);
  out << "line " << number << ": " << FormatCardLine(card, hours * 3600 + minutes * 60) << "\n";
  if (read.Number <= 0) return;

  auto asRead = [&](const char* name, std::size_t column, std::optional<int> seconds) {
    return std::string(name) + " '" + std::string(Field(line, column, TimeWidth)) + "' = " +
           (seconds ? std::to_string(*seconds) + " s" : std::string("-"));
  };
  out << "  as read: " << asRead("check", CheckColumn, card.Check) << ", "
      << asRead("start", StartColumn, card.Start) << ", "
      << asRead("finish", FinishColumn, card.Finish) << "\n";

  check.Gap(line, CardNumberColumn + CardNumberWidth, "between card number and check time");
  const std::string baseTime = " (the base time)";
  check.RealField(line, "check time", CheckColumn, TimeWidth, baseTime);
  check.RealField(line, "start time", StartColumn, TimeWidth, baseTime);
  check.RealField(line, "finish time", FinishColumn, TimeWidth, baseTime);

  // The punches the station reads: up to the one whose code ends the list.
  const int last = std::min(read.Count + 1, PunchFieldCount);
  for (int i = 1; i <= last && line.size() >= PunchFieldEnd(i); ++i) {
    const std::string punch = "punch " + std::to_string(i);
    check.RealField(line, punch + " code", PunchCodeColumn(i), PunchCodeWidth,
                    ", which ends the punch list here");
    check.Gap(line, PunchCodeColumn(i) + PunchCodeWidth, "between " + punch + " code and time");
    if (i <= read.Count)
      check.RealField(line, punch + " time", PunchTimeColumn(i), PunchTimeWidth, baseTime);
    if (i < read.Count) check.Gap(line, PunchFieldEnd(i), "after " + punch);
  }
  // A line that ends inside a punch's columns: that punch is replaced by the empty record.
  const int partial = read.Count;
  if (partial >= 1 && line.size() < PunchFieldEnd(partial) &&
      line.size() > PunchCodeColumn(partial)) {
    const std::string_view rest = std::string_view(line).substr(PunchCodeColumn(partial));
    if (rest.find_first_not_of(' ') != std::string_view::npos)
      check.Warning("the line ends inside punch " + std::to_string(partial) + " (" +
                    Columns(PunchCodeColumn(partial), PunchFieldEnd(partial) -
                                                          PunchCodeColumn(partial)) +
                    "): it is not read and the empty record takes its place");
  }
  if (read.Count == 0 && line.size() >= PunchFieldEnd(PunchFieldCount))
    check.Error("all " + std::to_string(PunchFieldCount) +
                " punch fields are filled and no code 0 ends the list: the punch count is 0"
                " and no punch is placed");
  // A count that the line's end set includes the empty record, which is no punch.
  const bool endedByLine = read.Count >= 1 && line.size() < PunchFieldEnd(read.Count);
  const int punches = endedByLine ? read.Count - 1 : read.Count;
  if (punches > CardPunchCapacity)
    check.Error(std::to_string(punches) + " punches: the card holds " +
                std::to_string(CardPunchCapacity) + ", the punches after the " +
                std::to_string(CardPunchCapacity) + "th are dropped");
  if (line.find('\n') != ByteString::npos)
    check.Error("holds " + std::to_string(std::count(line.begin(), line.end(), '\n')) +
                " LF line end(s): only CR ends a line, so the lines after it are read as part"
                " of this one; save the file with CR LF line ends");
}

}  // namespace

TPunchCheckResult CheckPunchFile(const std::string& path, int hours, int minutes,
                                 std::ostream& out) {
  TPunchCheckResult result;
  TPunchFile file;
  file.Open(path);
  int number = 0;
  while (!file.Eof()) CheckLine(file.ReadLine(), ++number, hours, minutes, out, result);
  if (number == 0) {
    ++result.Warnings;
    out << path << ": warning: no lines; every request gets the template card 4101\n";
  }
  // What lies after an end-of-file mark is never read.
  std::ifstream raw(path, std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(raw)), {});
  const std::size_t mark = all.find(EndOfFileMark);
  if (mark != std::string::npos && mark + 1 < all.size()) {
    ++result.Errors;
    out << path << ": error: byte 0x1A at offset " << mark << " ends the file; the "
        << all.size() - mark - 1 << " byte(s) after it are never read\n";
  }
  out << path << ": " << result.Cards << " card(s), " << result.Warnings << " warning(s), "
      << result.Errors << " error(s)\n";
  return result;
}

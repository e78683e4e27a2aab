#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "PunchLine.h"
#include "TempDir.h"
#include "simulator/CardImage.h"
#include "simulator/PunchFile.h"
#include "toolkit/Exception.h"

namespace {

std::vector<ByteString> AllLines(TPunchFile& file) {
  std::vector<ByteString> lines;
  while (!file.Eof()) lines.push_back(file.ReadLine());
  return lines;
}

TEST(PunchFile, LineEnds) {
  using Lines = std::vector<ByteString>;
  struct Case {
    const char* what;
    ByteString bytes;
    Lines lines;
  } cases[] = {
      {"empty file", "", {}},
      {"CR LF after the last line", "a\r\nb\r\n", {"a", "b"}},
      {"no end after the last line", "a\r\nb", {"a", "b"}},
      {"CR alone", "a\rb\r", {"a", "b"}},
      {"LF alone is part of the line", "a\nb\nc\rd", {"a\nb\nc", "d"}},
      {"only the LF directly after CR is dropped", "a\r\n\nb\r", {"a", "\nb"}},
      {"extra empty line", "a\r\n\r\n", {"a", ""}},
      {"0x1A ends the file", "a\r\n\x1A" "b\r\n", {"a"}},
      {"0x1A inside a line", "ab\x1A" "cd\r\n", {"ab"}},
      {"NUL is an ordinary byte", ByteString("a\0b\r\n", 5), {ByteString("a\0b", 3)}},
      {"CR CR gives an empty line", "a\r\rb", {"a", "", "b"}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    TPunchFile file;
    file.Open(dir.Write("data.epl", c.bytes));
    EXPECT_EQ(AllLines(file), c.lines) << c.what;
  }
}

TEST(PunchFile, LinesLongerThanTheReadBuffer) {
  TempDir dir;
  const ByteString longLine(10000, 'x');
  std::string bytes;
  for (int i = 0; i < 5; ++i) bytes += longLine + "\r\n";
  TPunchFile file;
  file.Open(dir.Write("data.epl", bytes));
  EXPECT_EQ(AllLines(file), std::vector<ByteString>(5, longLine));
}

TEST(PunchFile, OpenFailuresNameTheCause) {
  TempDir dir;
  dir.Write("plain", "x");
  struct Case {
    std::string path, message;
    int code;
  } cases[] = {
      {(dir.Path() / "missing.epl").string(), "File not found", 2},
      {"", "Invalid filename", 3},
      {(dir.Path() / "plain" / "data.epl").string(), "Invalid filename", 3},
      {dir.Path().string(), "File access denied", 5},
  };
  for (const auto& c : cases) {
    TPunchFile file;
    try {
      file.Open(c.path);
      ADD_FAILURE() << "opened " << c.path;
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.Message(), c.message) << c.path;
      EXPECT_EQ(e.ErrorCode(), c.code) << c.path;
    }
    EXPECT_FALSE(file.IsOpen());
  }
}

TEST(PunchFile, UnreadableFileIsAccessDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  const std::string path = dir.Write("data.epl", "x\r\n");
  std::filesystem::permissions(path, std::filesystem::perms::none);
  TPunchFile file;
  try {
    file.Open(path);
    ADD_FAILURE();
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.Message(), "File access denied");
  }
}

TEST(PunchFile, FileThatNeverOpenedFailsEveryRequestWith104) {
  TPunchFile file;
  ClosePunchFile(file);  // closing a file that never opened is harmless
  ByteString image = MakeTemplateImage();
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      FillCardImage(file, image, 10, 0);
      ADD_FAILURE();
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.Message(), "I/O error 104");
      EXPECT_EQ(e.ErrorCode(), 104);
    }
  }
  EXPECT_EQ(image, MakeTemplateImage());
  EXPECT_THROW(file.ReadLine(), EInOutError);
}

TEST(PunchFile, HoldsASharedLockWhileOpen) {
  TempDir dir;
  const std::string path = dir.Write("data.epl", "x\r\n");
  auto exclusiveLockFree = [&] {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
  };
  auto sharedLockFree = [&] {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return free;
  };
  TPunchFile file;
  file.Open(path);
  EXPECT_FALSE(exclusiveLockFree());
  EXPECT_TRUE(sharedLockFree());  // other readers are welcome
  TPunchFile second;
  EXPECT_NO_THROW(second.Open(path));
  second.Close();
  ClosePunchFile(file);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(exclusiveLockFree());
}

TEST(PunchFile, OpenPunchFileUsesDataEplInTheWorkingDirectory) {
  TempDir dir;
  dir.Write("data.epl", "first\r\n");
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  TPunchFile file;
  EXPECT_NO_THROW(OpenPunchFile(file));
  std::filesystem::current_path(saved);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.ReadLine(), "first");
}

// The road of consecutive requests: one line each, a bad line consumed by its failure, and the
// template once the lines run out.
TEST(FillCardImage, EachRequestTakesOneLineUntilTheEnd) {
  PunchLine good;
  good.Number = "4711";
  good.Punches = {{"31", "1.00"}};
  TempDir dir;
  TPunchFile file;
  file.Open(dir.Write("data.epl", good.Text() + "\r\nnonsense\r\n" + good.Text() + "\r\n\r\n"));

  ByteString image = MakeTemplateImage();
  FillCardImage(file, image, 10, 0);
  EXPECT_EQ(ByteAt(image, 5), 4711 % 256);

  image = MakeTemplateImage();
  EXPECT_THROW(FillCardImage(file, image, 10, 0), EConvertError);

  image = MakeTemplateImage();
  FillCardImage(file, image, 10, 0);
  EXPECT_EQ(ByteAt(image, 5), 4711 % 256);

  image = MakeTemplateImage();
  try {
    FillCardImage(file, image, 10, 0);
    ADD_FAILURE() << "the empty last line converted";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'' is not a valid integer value");
  }

  for (int i = 0; i < 2; ++i) {
    image = MakeTemplateImage();
    FillCardImage(file, image, 10, 0);
    EXPECT_EQ(image, MakeTemplateImage());
  }
}

// Every card of the sample file parses as the columns say.
TEST(ExampleData, EveryLineParsesAsWritten) {
  TPunchFile file;
  file.Open(std::string(KORVEX_EXAMPLES_DIR) + "/data.epl");
  std::ifstream raw(std::string(KORVEX_EXAMPLES_DIR) + "/data.epl", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(bytes.empty());
  ASSERT_EQ(bytes.substr(bytes.size() - 2), "\r\n");

  int cards = 0, seriesTwoOrMore = 0, atLimit = 0;
  while (!file.Eof()) {
    const ByteString line = file.ReadLine();
    SCOPED_TRACE(line);
    ASSERT_EQ(line.find('\n'), ByteString::npos);
    ASSERT_GE(line.size(), 47u);
    ASSERT_EQ((line.size() - 46) % 11, 0u) << "ends in the middle of a punch field";
    const int punches = static_cast<int>((line.size() - 46) / 11);
    ASSERT_GE(punches, 5);
    ASSERT_LE(punches, 36);

    ByteString image = MakeTemplateImage();
    FillCardImageFromLine(line, image, 10, 0);
    const int number = std::stoi(line.substr(19, 6));
    ASSERT_GT(number, 0);
    seriesTwoOrMore += number >= 200000;
    atLimit += punches == 36;
    EXPECT_EQ(ByteAt(image, 23), punches == 36 ? 36 : punches + 1);

    double previous = -1;
    for (int i = 1; i <= punches; ++i) {
      const double code = std::stod(line.substr(11 * i + 36, 3));
      const double time = std::stod(line.substr(11 * i + 40, 6));
      EXPECT_GT(code, 0) << "punch " << i;
      EXPECT_GT(time, previous) << "punch " << i;
      previous = time;
      const std::size_t offset = i <= 30 ? 33 + 16 * ((i - 1) / 5) + 3 * ((i - 1) % 5)
                                         : 32 + 16 * (i - 31);
      EXPECT_EQ(ByteAt(image, offset), static_cast<int>(code) & 0xFF) << "punch " << i;
    }
    ++cards;
  }
  EXPECT_GE(cards, 10);
  EXPECT_GE(seriesTwoOrMore, 1);
  EXPECT_EQ(atLimit, 1);
}

}  // namespace

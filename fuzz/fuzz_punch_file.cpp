// A punch file of arbitrary bytes, read line by line into card images.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "simulator/CardImage.h"
#include "simulator/PunchFile.h"
#include "toolkit/Exception.h"

namespace {

constexpr char EndOfFileMark = 0x1A;

// The fuzz input as a file the reader opens by name; closed and gone with the object.
class TMemoryFile {
 public:
  explicit TMemoryFile(const ByteString& bytes) : FHandle(::memfd_create("data.epl", 0)) {
    FUZZ_CHECK(FHandle >= 0);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(FHandle, bytes.data() + done, bytes.size() - done);
      FUZZ_CHECK(n > 0);
      done += static_cast<std::size_t>(n);
    }
  }
  ~TMemoryFile() { ::close(FHandle); }
  std::string Path() const { return "/proc/self/fd/" + std::to_string(FHandle); }

 private:
  int FHandle;
};

// Bytes of the template that no field of a line may change.
bool TemplateKept(const ByteString& image, const ByteString& blank) {
  const std::pair<std::size_t, std::size_t> fixed[] = {{0, 4}, {7, 19}, {24, 25}, {27, 32}};
  for (auto [from, to] : fixed)
    if (image.compare(from, to - from, blank, from, to - from) != 0) return false;
  return true;
}

// The image of one line, or nothing when its card number does not convert.
bool ImageOf(const ByteString& line, std::size_t index, ByteString& image) {
  image = MakeTemplateImage();
  const int hours = static_cast<int>(index % 24), minutes = static_cast<int>(index * 7 % 60);
  try {
    FillCardImageFromLine(line, image, hours, minutes);
    return true;
  } catch (const EConvertError&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteString bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t end = std::min(bytes.find(EndOfFileMark), bytes.size());
  const ByteString blank = MakeTemplateImage();
  FUZZ_CHECK(blank.size() == CardImageSize);
  const TMemoryFile file(bytes);

  // Lines with their ends put back give the file up to its end mark, byte for byte.
  std::vector<ByteString> images;
  std::vector<bool> converted;
  {
    TPunchFile punchFile;
    punchFile.Open(file.Path());
    std::size_t at = 0;
    while (!punchFile.Eof()) {
      const ByteString line = punchFile.ReadLine();
      FUZZ_CHECK(bytes.compare(at, line.size(), line) == 0);
      at += line.size();
      if (at < end && bytes[at] == '\r') {
        ++at;
        if (at < end && bytes[at] == '\n') ++at;
      }
      ByteString image;
      converted.push_back(ImageOf(line, images.size(), image));
      FUZZ_CHECK(image.size() == CardImageSize);
      FUZZ_CHECK(TemplateKept(image, blank));
      FUZZ_CHECK(static_cast<std::uint8_t>(image[23]) <= CardPunchCapacity);
      images.push_back(converted.back() ? image : blank);
    }
    FUZZ_CHECK(at == end);
    FUZZ_CHECK(punchFile.ReadLine().empty());
  }

  // The responder's path, line by line from the file, fills the same images.
  TPunchFile punchFile;
  punchFile.Open(file.Path());
  for (std::size_t i = 0; i < images.size(); ++i) {
    FUZZ_CHECK(!punchFile.Eof());
    ByteString image = MakeTemplateImage();
    const int hours = static_cast<int>(i % 24), minutes = static_cast<int>(i * 7 % 60);
    try {
      FillCardImage(punchFile, image, hours, minutes);
      FUZZ_CHECK(converted[i]);
      FUZZ_CHECK(image == images[i]);
    } catch (const EConvertError&) {
      FUZZ_CHECK(!converted[i]);
    }
  }
  FUZZ_CHECK(punchFile.Eof());
  ByteString image = MakeTemplateImage();
  FillCardImage(punchFile, image, 10, 0);
  FUZZ_CHECK(image == blank);
  return 0;
}

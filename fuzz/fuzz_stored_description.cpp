// Arbitrary text read as a port's stored description. Ports open only the in-process line:
// any other device name is refused, so no input can reach a real device or the process's
// priority.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "serial/ComPort.h"
#include "serial/StoredDescription.h"
#include "serial/platform/VirtualPlatform.h"

namespace {

class TNoDevices : public platform::IPlatform {
 public:
  std::unique_ptr<platform::IDevice> Open(const std::string&) override {
    errno = ENOENT;
    return nullptr;
  }
  std::unique_ptr<platform::IEvent> CreateEvent() override {
    errno = ENOMEM;
    return nullptr;
  }
  std::int32_t GetPriorityClass() override { return platform::NormalPriorityClass; }
  void SetPriorityClass(std::int32_t) override {}
  std::int32_t GetLastError() override { return errno; }
  void SetLastError(std::int32_t code) override { errno = code; }
  std::string ErrorText(std::int32_t code) override { return "error " + std::to_string(code); }
  bool IsDeviceGone(std::int32_t) override { return false; }
};

// The default device name, so that "Active = True" alone opens it.
constexpr const char* LineName = "COM2";

platform::TVirtualPlatform& Backend() {
  static TNoDevices none;
  static platform::TVirtualPlatform backend(&none);
  static const bool installed = [] {
    backend.AddDevice(LineName);
    platform::Install(&backend);
    return true;
  }();
  (void)installed;
  return backend;
}

// The description a port reads, or nothing when it refuses it.
bool Read(const std::string& text, std::string& written, bool& nameEmpty) {
  TComPort port(nullptr);
  try {
    ReadStoredDescription(port, text);
  } catch (const Exception&) {
    FUZZ_CHECK(!port.Loading());
    return false;
  }
  FUZZ_CHECK(!port.Loading());
  written = WriteStoredDescription(port);
  nameEmpty = port.DeviceName().empty();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::TVirtualPlatform& backend = Backend();
  const std::string text(reinterpret_cast<const char*>(data), size);

  // What a port accepted, written out, reads back into a fresh port as the same description.
  // An empty device name is not written, so that port comes back with the default name; its
  // description then holds from the next round on.
  std::string written, again;
  bool nameEmpty = false, unused = false;
  if (Read(text, written, nameEmpty)) {
    FUZZ_CHECK(Read(written, again, unused));
    if (nameEmpty) {
      written = again;
      FUZZ_CHECK(Read(written, again, unused));
    }
    FUZZ_CHECK(again == written);
  }
  FUZZ_CHECK(!backend.Device(LineName)->IsOpen());
  backend.Device(LineName)->ClearCalls();
  return 0;
}

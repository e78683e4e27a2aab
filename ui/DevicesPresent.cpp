#include "ui/DevicesPresent.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Names in folder that begin with prefix, sorted; as listed, not resolved.
std::vector<std::string> Matching(const std::string& root, const std::string& folder,
                                  const std::string& prefix) {
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(root + folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with(prefix)) found.push_back(folder + "/" + name);
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

std::vector<std::string> SerialDevicesPresent(const std::string& root) {
  std::vector<std::string> devices = Matching(root, "/dev/serial/by-id", "");
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    for (std::string& name : Matching(root, "/dev", prefix)) devices.push_back(std::move(name));
  }
  std::error_code ec;
  if (fs::exists(root + "/tmp/korvex/ttyA", ec)) devices.emplace_back("/tmp/korvex/ttyA");
  return devices;
}

#include "serial/platform/DeviceNames.h"

#include <charconv>

namespace platform {

std::string NativeDeviceName(const std::string& name) {
  std::string_view rest(name);
  if (rest.starts_with("\\\\.\\")) rest.remove_prefix(4);
  if (!rest.starts_with("COM")) return name;
  rest.remove_prefix(3);
  if (rest.empty() || rest.front() < '1' || rest.front() > '9') return name;
  unsigned n = 0;
  auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
  if (ec != std::errc() || end != rest.data() + rest.size()) return name;
  return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace platform

#include "serial/platform/PosixInputFilter.h"

namespace platform {

void TInputFilter::Deliver(char c, std::string& out) const {
  if (c == 0 && FSettings.DropNulls) return;
  out.push_back(c);
}

void TInputFilter::TakeHeldMark(std::string& out) {
  if (FHeld >= 1) out.push_back('\xFF');
  if (FHeld == 2) out.push_back('\0');
  FHeld = 0;
}

void TInputFilter::Filter(const std::uint8_t* raw, std::size_t count, std::string& out) {
  for (std::size_t i = 0; i < count; ++i) {
    const char c = static_cast<char>(raw[i]);
    if (!FSettings.Unmark) {
      TakeHeldMark(out);  // not reached when the owner took it on switching marking off
      Deliver(c, out);
      continue;
    }
    switch (FHeld) {
      case 0:
        if (c == '\xFF') FHeld = 1;
        else Deliver(c, out);
        break;
      case 1:
        if (c == '\0') {
          FHeld = 2;
        } else {
          // FF FF is one true FF; anything else cannot follow a mark and passes as it came.
          if (c != '\xFF') Deliver('\xFF', out);
          Deliver(c, out);
          FHeld = 0;
        }
        break;
      default:
        // FF 00 00 is a break, read as a null byte as without marking.
        Deliver(FSettings.ReplaceBad && c != '\0' ? FSettings.ErrorChar : c, out);
        FHeld = 0;
        break;
    }
  }
}

}  // namespace platform

#pragma once
// Received bytes as the line discipline hands them over made into what the port delivers:
// marked bad bytes (PARMRK: FF 00 b, and FF FF for a true FF) unmarked or replaced by the
// error character, null bytes dropped. Plain data, no device.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class TInputFilter {
 public:
  struct TSettings {
    bool Unmark = false;         // the line marks bad bytes
    bool ReplaceBad = false;     // a bad byte becomes ErrorChar
    char ErrorChar = 0;
    bool DropNulls = false;
  };

  void Configure(const TSettings& settings) { FSettings = settings; }
  bool Active() const { return FSettings.Unmark || FSettings.DropNulls || FHeld != 0; }
  // Appends what the raw bytes deliver to out; a mark cut off at the end waits for the rest.
  void Filter(const std::uint8_t* raw, std::size_t count, std::string& out);
  // Forgets a mark cut off, as when the queue is purged.
  void Reset() { FHeld = 0; }
  // A mark cut off, appended to out as the plain bytes it turned out to be, and forgotten:
  // for when marking is switched off, so that Filter never gives more bytes than it gets.
  void TakeHeldMark(std::string& out);

 private:
  void Deliver(char c, std::string& out) const;
  TSettings FSettings;
  int FHeld = 0;  // bytes of a mark seen so far: 1 after FF, 2 after FF 00
};

}  // namespace platform

#pragma once
// How the failures of the periodic work (the poll, the repeated announcement) reach the user.
// Nothing changes between two ticks, so a stuck request or a closed port fails the same way
// every 500 ms; reporting each one would bury the user under boxes. The rules:
// - a failure that repeats unchanged at the next ticks of the same work is reported once, until
//   that work succeeds or the port opens again (Reset);
// - a failure that took a punch-file line with it is always reported: each one lost a card;
// - only one report is open at a time; what fails while it is open is gathered and shown in one
//   report once it closes ("... and 12 more punch-file errors");
// - after Shutdown nothing more is reported.
// It knows no widget: the window shows a report as a box and calls ReportClosed when the box
// closes; a program without boxes calls ReportClosed right after showing.
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

// The periodic works, each with its own memory of what it already reported.
enum class TTick : std::uint8_t { Poll, CardIn };

enum class TFailureKind : std::uint8_t {
  Other,       // may repeat unchanged at every tick (punch file not open, ...)
  PunchLine,   // a punch-file line was consumed by the failing attempt
  Port,        // the port component's error
  DeviceGone,  // the device vanished; the port is closed because of it
};

struct TFailureReport {
  // The most serious kind gathered in the report; a box for Port or DeviceGone is the port's
  // error dialog, otherwise the standard error box.
  TFailureKind Kind = TFailureKind::Other;
  std::string Text;
};

class TTickFailures {
 public:
  using TShow = std::function<void(const TFailureReport&)>;
  explicit TTickFailures(TShow show) : FShow(std::move(show)) {}

  // The port opened: everything counts as new again.
  void Reset() noexcept;
  // No more reports after this, and nothing gathered is shown.
  void Shutdown() noexcept;
  bool IsShutDown() const noexcept { return FShutDown; }

  void Succeeded(TTick tick) noexcept;
  void Failed(TTick tick, TFailureKind kind, const std::string& text);

  // Runs one tick's work. EAbort means the failure was already reported (the port's error
  // goes through Failed from its own handler), so it neither succeeds nor fails here.
  // Returns true when the work ran to its end.
  template <class F>
  bool Run(TTick tick, F&& work);

  // The open report was answered: shows what was gathered meanwhile, if anything.
  void ReportClosed();
  bool ReportOpen() const noexcept { return FOpen; }
  // Failures gathered while the report is open.
  int Gathered() const noexcept;

 private:
  static constexpr std::size_t KindCount = 4;
  static constexpr std::size_t TickCount = 2;
  struct TGathered {
    int Count = 0;
    std::string First;
  };
  void Show(TFailureReport report);
  void FailedWith(TTick tick, const std::exception_ptr& failure);

  TShow FShow;
  std::array<std::string, TickCount> FLastFailure;
  std::array<TGathered, KindCount> FGathered;
  bool FOpen = false;
  bool FShutDown = false;
};

template <class F>
bool TTickFailures::Run(TTick tick, F&& work) {
  try {
    std::forward<F>(work)();
  } catch (...) {
    FailedWith(tick, std::current_exception());
    return false;
  }
  Succeeded(tick);
  return true;
}

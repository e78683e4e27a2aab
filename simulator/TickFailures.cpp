#include "simulator/TickFailures.h"

#include "toolkit/Exception.h"

namespace {

const char* NounFor(TFailureKind kind, int count) {
  const bool one = count == 1;
  switch (kind) {
    case TFailureKind::PunchLine:
      return one ? "punch-file error" : "punch-file errors";
    case TFailureKind::Port:
      return one ? "port error" : "port errors";
    default:
      return one ? "error" : "errors";
  }
}

}  // namespace

void TTickFailures::Reset() noexcept {
  for (std::string& last : FLastFailure) last.clear();
}

void TTickFailures::Shutdown() noexcept {
  FShutDown = true;
  FGathered = {};
}

void TTickFailures::Succeeded(TTick tick) noexcept {
  FLastFailure[static_cast<std::size_t>(tick)].clear();
}

void TTickFailures::Failed(TTick tick, TFailureKind kind, const std::string& text) {
  if (FShutDown) return;
  std::string& last = FLastFailure[static_cast<std::size_t>(tick)];
  // A consumed line is a card lost, whatever its text.
  if (kind != TFailureKind::PunchLine && text == last) return;
  last = text;
  if (FOpen) {
    TGathered& gathered = FGathered[static_cast<std::size_t>(kind)];
    if (gathered.Count++ == 0) gathered.First = text;
    return;
  }
  Show({kind, text});
}

void TTickFailures::FailedWith(TTick tick, const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const EAbort&) {
  } catch (const EConvertError& e) {
    // The poll's only conversion is of the line it has just taken from the punch file.
    Failed(tick, TFailureKind::PunchLine, e.Message());
  } catch (const Exception& e) {
    Failed(tick, TFailureKind::Other, e.Message());
  } catch (const std::exception& e) {
    Failed(tick, TFailureKind::Other, e.what());
  }
}

void TTickFailures::ReportClosed() {
  FOpen = false;
  if (FShutDown || Gathered() == 0) return;
  // Most serious first; each kind with its first text and how many more came.
  TFailureReport report;
  bool first = true;
  for (std::size_t k = KindCount; k-- > 0;) {
    TGathered& gathered = FGathered[k];
    if (gathered.Count == 0) continue;
    if (first) report.Kind = static_cast<TFailureKind>(k);
    if (!first) report.Text += '\n';
    first = false;
    report.Text += gathered.First;
    if (gathered.Count > 1) {
      const int more = gathered.Count - 1;
      report.Text += "\n... and " + std::to_string(more) + " more " +
                     NounFor(static_cast<TFailureKind>(k), more);
    }
  }
  FGathered = {};
  Show(std::move(report));
}

int TTickFailures::Gathered() const noexcept {
  int count = 0;
  for (const TGathered& gathered : FGathered) count += gathered.Count;
  return count;
}

void TTickFailures::Show(TFailureReport report) {
  // Open before showing: a sink that reports at once calls ReportClosed from inside.
  FOpen = true;
  if (FShow) {
    FShow(report);
  } else {
    FOpen = false;
  }
}

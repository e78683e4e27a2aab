#pragma once
// Every handler called from Qt runs through Guarded, so that no exception crosses Qt's event
// loop: EAbort ends the handler silently, any other failure goes to the standard error box,
// and the program goes on with the next message.
#include <exception>
#include <utility>

#include "toolkit/ErrorReport.h"
#include "toolkit/Exception.h"

template <class F>
void Guarded(F&& handler) noexcept {
  try {
    try {
      std::forward<F>(handler)();
    } catch (const EAbort&) {
    } catch (const Exception& e) {
      ReportException(e);
    } catch (const std::exception& e) {
      ReportException(Exception(e.what()));
    } catch (...) {
      ReportException(Exception("Unknown error"));
    }
  } catch (...) {
    // The report itself failed (no memory for a box); nothing sensible is left to do.
  }
}

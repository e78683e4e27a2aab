#pragma once
// While a modal dialog is open, Qt drops the window system's request to close the window it
// blocks, so the user would have to close twice. This hands such a request to onRequest
// instead (on the main thread), which can carry it out once the dialog has ended. Where the
// window system cannot be asked (no X11, offscreen) it does nothing.
#include <QWidget>
#include <functional>
#include <memory>

class TBlockedCloseRequests {
 public:
  TBlockedCloseRequests(QWidget& window, std::function<void()> onRequest);
  ~TBlockedCloseRequests();
  TBlockedCloseRequests(const TBlockedCloseRequests&) = delete;
  TBlockedCloseRequests& operator=(const TBlockedCloseRequests&) = delete;

 private:
  struct TFilter;
  std::unique_ptr<TFilter> FFilter;
};

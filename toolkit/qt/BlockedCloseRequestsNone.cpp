#include "toolkit/qt/BlockedCloseRequests.h"

// Without X11 the request reaches the window through the platform's own close handling.
struct TBlockedCloseRequests::TFilter {};

TBlockedCloseRequests::TBlockedCloseRequests(QWidget&, std::function<void()>) {}
TBlockedCloseRequests::~TBlockedCloseRequests() = default;

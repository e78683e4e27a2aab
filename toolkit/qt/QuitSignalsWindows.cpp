#include "toolkit/qt/QuitSignals.h"

// A Windows program with a window is asked to end through that window.
struct TQuitSignals::TState {};

TQuitSignals::TQuitSignals(std::function<void()>) {}
TQuitSignals::~TQuitSignals() = default;

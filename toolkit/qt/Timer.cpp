#include "toolkit/qt/Timer.h"

TTimer::TTimer(QObject* parent) : QObject(parent) {
  connect(&FTimer, &QTimer::timeout, this, &TTimer::OnTimer);
  Update();
}

void TTimer::SetEnabled(bool value) {
  if (FEnabled == value) return;
  FEnabled = value;
  Update();
}

void TTimer::SetInterval(int milliseconds) {
  if (FInterval == milliseconds) return;
  FInterval = milliseconds;
  Update();
}

void TTimer::Update() {
  // A zero interval would tick at every turn of the event loop; it means "no ticks" here.
  if (FEnabled && FInterval > 0) {
    FTimer.start(FInterval);
  } else {
    FTimer.stop();
  }
}

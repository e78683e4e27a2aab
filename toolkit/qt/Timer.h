#pragma once
// A timer with an interval and an enabled state, like the toolkit's timers: it ticks only
// while enabled with a non-zero interval, and changing either starts a fresh period.
#include <QObject>
#include <QTimer>

class TTimer : public QObject {
  Q_OBJECT

 public:
  explicit TTimer(QObject* parent = nullptr);

  bool Enabled() const noexcept { return FEnabled; }
  void SetEnabled(bool value);
  int Interval() const noexcept { return FInterval; }
  void SetInterval(int milliseconds);
  // Whether ticks are coming now.
  bool Running() const { return FTimer.isActive(); }

 signals:
  void OnTimer();

 private:
  void Update();

  QTimer FTimer;
  bool FEnabled = true;
  int FInterval = 1000;
};

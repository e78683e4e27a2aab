#pragma once
// Turns the signals that ask a program to end (SIGINT, SIGTERM, SIGHUP) into a call on the
// main thread's event loop, so the program can end the way closing its window does instead of
// dying with its device still held. Where the platform has no such signals it does nothing.
#include <QObject>
#include <functional>
#include <memory>

class TQuitSignals : public QObject {
 public:
  // One instance at a time; onQuit runs on the main thread, once per signal received.
  explicit TQuitSignals(std::function<void()> onQuit);
  ~TQuitSignals() override;
  TQuitSignals(const TQuitSignals&) = delete;
  TQuitSignals& operator=(const TQuitSignals&) = delete;

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

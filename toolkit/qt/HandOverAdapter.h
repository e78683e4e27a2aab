#pragma once
// Serves hand-overs to the main thread from Qt's event loop, and so also from the nested loop
// of a modal dialog. One queued call at a time: a flag keeps posting threads from flooding the
// event queue while a serve is already on its way.
#include <QObject>
#include <atomic>

class THandOverAdapter : public QObject {
 public:
  // Create on the main thread, after the application object.
  explicit THandOverAdapter(QObject* parent = nullptr);
  ~THandOverAdapter() override;

 private:
  void WakeUp();
  void Serve();

  std::atomic<bool> FScheduled{false};
};

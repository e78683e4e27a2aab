#include "toolkit/qt/HandOverAdapter.h"

#include <QMetaObject>

#include "toolkit/MainThread.h"

THandOverAdapter::THandOverAdapter(QObject* parent) : QObject(parent) {
  MainThread::Bind();
  MainThread::SetWakeUp([this] { WakeUp(); });
  WakeUp();  // calls queued before the adapter existed
}

THandOverAdapter::~THandOverAdapter() { MainThread::SetWakeUp(nullptr); }

void THandOverAdapter::WakeUp() {
  if (FScheduled.exchange(true)) return;
  QMetaObject::invokeMethod(this, [this] { Serve(); }, Qt::QueuedConnection);
}

void THandOverAdapter::Serve() {
  // Cleared first: a call queued while serving schedules the next serve.
  FScheduled.store(false);
  MainThread::ServePending();
}

#include "toolkit/qt/HandOverAdapter.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMetaObject>
#include <atomic>
#include <thread>
#include <vector>

#include "toolkit/MainThread.h"
#include "toolkit/Thread.h"

namespace {

class TEventCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MetaCall) ++FMetaCalls;
    return false;
  }
  int FMetaCalls = 0;
};

class HandOverAdapterTest : public ::testing::Test {
 protected:
  int FArgc = 1;
  char FArg0[8] = "test";
  char* FArgv[1] = {FArg0};
  QCoreApplication FApp{FArgc, FArgv};
  THandOverAdapter FAdapter;
};

}  // namespace

TEST_F(HandOverAdapterTest, HandOversAreServedByTheEventLoop) {
  std::vector<std::thread::id> ranOn;
  QEventLoop loop;  // a nested loop, as a modal dialog runs one
  std::thread worker([&] {
    for (int i = 0; i < 200; ++i) {
      TThread::Synchronize([&] { ranOn.push_back(std::this_thread::get_id()); });
    }
    QMetaObject::invokeMethod(&loop, [&] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  ASSERT_EQ(ranOn.size(), 200u);
  for (std::thread::id id : ranOn) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(HandOverAdapterTest, OneQueuedServeAtATime) {
  TEventCounter counter;
  FAdapter.installEventFilter(&counter);
  std::vector<std::future<void>> calls;
  for (int i = 0; i < 50; ++i) calls.push_back(MainThread::Post([] {}));
  QCoreApplication::processEvents();
  EXPECT_EQ(counter.FMetaCalls, 1) << "fifty calls, one event";
  for (auto& call : calls) {
    EXPECT_EQ(call.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  }

  calls.push_back(MainThread::Post([] {}));
  QCoreApplication::processEvents();
  EXPECT_EQ(counter.FMetaCalls, 2) << "a call after the serve schedules the next one";
  EXPECT_EQ(calls.back().wait_for(std::chrono::seconds(0)), std::future_status::ready);
}

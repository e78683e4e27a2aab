#include "toolkit/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <chrono>
#include "tests/toolkit/CountingSignal.h"
#include <stdexcept>
#include <string>

#include "toolkit/Exception.h"
#include "toolkit/MainThread.h"

using namespace std::chrono_literals;

namespace {

// A thread that does one unit of work per signal and honours parking between units.
class TWorker : public TThread {
 public:
  TWorker() { Start(); }
  ~TWorker() override {
    Terminate();
    FWork.release();
    StopAndWait();
  }
  void Give() { FWork.release(); }
  bool Done(std::chrono::milliseconds within) { return FDone.try_acquire_for(within); }
  using TThread::ParkPoint;

 protected:
  void Execute() override {
    while (ParkPoint()) {
      FWork.acquire();
      if (Terminated()) break;
      FDone.release();
    }
  }

 private:
  TCountingSignal FWork{0};
  TCountingSignal FDone{0};
};

// Runs a given body on its own thread.
class TBodyThread : public TThread {
 public:
  explicit TBodyThread(std::function<void(TBodyThread&)> body) : FBody(std::move(body)) {
    Start();
  }
  ~TBodyThread() override { StopAndWait(); }

 protected:
  void Execute() override { FBody(*this); }

 private:
  std::function<void(TBodyThread&)> FBody;
};

// Counts wake-up calls so a test can serve exactly when something was queued.
class TWakeUpCounter {
 public:
  TWakeUpCounter() {
    MainThread::SetWakeUp([this] { FQueued.release(); });
  }
  ~TWakeUpCounter() { MainThread::SetWakeUp(nullptr); }
  bool Queued(std::chrono::milliseconds within) { return FQueued.try_acquire_for(within); }

 private:
  TCountingSignal FQueued{0};
};

}  // namespace

TEST(ThreadParking, ParkedThreadDoesNoWorkUntilReleased) {
  TWorker worker;
  worker.RequestPark();
  EXPECT_TRUE(worker.ParkRequested());
  // Done before the park when the thread had passed its safe point already, else after release.
  worker.Give();
  worker.WaitUntilParked();
  EXPECT_TRUE(worker.Parked());
  const bool doneBeforePark = worker.Done(0ms);

  worker.Give();
  EXPECT_FALSE(worker.Done(100ms)) << "a parked thread must not run";
  worker.Release();
  EXPECT_TRUE(worker.Done(5s));
  if (!doneBeforePark) EXPECT_TRUE(worker.Done(5s));
  EXPECT_FALSE(worker.ParkRequested());
}

TEST(ThreadParking, ReleaseIsNeverLost) {
  TWorker worker;
  for (int i = 0; i < 2000; ++i) {
    worker.RequestPark();
    const bool parkFirst = i % 3 == 0;
    if (parkFirst) {
      // Let the park really take effect before releasing; the unit given here is done
      // either before the park or after the release.
      worker.Give();
      worker.WaitUntilParked();
    }
    worker.Release();  // otherwise races with the thread reaching its safe point
    worker.Give();
    ASSERT_TRUE(worker.Done(5s)) << "release lost in iteration " << i;
    if (parkFirst) {
      ASSERT_TRUE(worker.Done(5s)) << "release lost in iteration " << i;
    }
  }
}

TEST(ThreadParking, DestructionEndsAParkedThread) {
  auto worker = std::make_unique<TWorker>();
  worker->RequestPark();
  worker->Give();  // it parks at its next safe point, before or after this unit
  worker->WaitUntilParked();
  ASSERT_TRUE(worker->Parked());
  worker.reset();  // hangs (and times out) if destruction cannot end a parked thread
}

TEST(ThreadHandOver, SynchronizeRunsOnTheMainThreadServedByServePending) {
  TWakeUpCounter wakeUps;
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  TBodyThread thread([&](TBodyThread&) {
    TThread::Synchronize([&] { ranOn = std::this_thread::get_id(); });
    returned = true;
  });
  ASSERT_TRUE(wakeUps.Queued(5s));
  EXPECT_FALSE(returned) << "Synchronize must wait for the main thread";
  EXPECT_TRUE(MainThread::ServePending());
  thread.WaitFor();
  EXPECT_TRUE(returned);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_FALSE(MainThread::ServePending()) << "nothing left queued";
}

TEST(ThreadHandOver, MainThreadWaitServesHandOvers) {
  std::atomic<int> served{0};
  std::atomic<bool> done{false};
  TBodyThread thread([&](TBodyThread&) {
    for (int i = 0; i < 100; ++i) TThread::Synchronize([&] { ++served; });
    done = true;
    MainThread::Notify();
  });
  MainThread::WaitUntil([&] { return done.load(); });
  EXPECT_EQ(served, 100);
}

TEST(ThreadHandOver, TimedWaitServesHandOversAndEndsAtItsDeadline) {
  // A program without an event loop times its work with this wait: hand-overs must be served
  // while it waits, and it must end at the deadline even when nothing happens.
  std::atomic<int> served{0};
  TBodyThread thread([&](TBodyThread&) {
    for (int i = 0; i < 10; ++i) TThread::Synchronize([&] { ++served; });
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(MainThread::WaitUntil([] { return false; }, start + 300ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  thread.WaitFor();
  EXPECT_EQ(served, 10);
  EXPECT_TRUE(MainThread::WaitUntil([] { return true; }, start));
}

TEST(ThreadHandOver, DestructionWhileAHandOverIsPendingDeliversIt) {
  TWakeUpCounter wakeUps;
  bool delivered = false;
  {
    TBodyThread thread([&](TBodyThread&) { TThread::Synchronize([&] { delivered = true; }); });
    ASSERT_TRUE(wakeUps.Queued(5s));
    EXPECT_FALSE(delivered);
  }  // the destructor waits for the end and serves the call meanwhile
  EXPECT_TRUE(delivered);
}

TEST(ThreadHandOver, ExceptionsAreCarriedBackToTheCaller) {
  std::string caught;
  bool wasConvertError = false;
  TBodyThread thread([&](TBodyThread&) {
    try {
      TThread::Synchronize([] { throw EConvertError("'x' is not a valid integer value"); });
    } catch (const EConvertError& e) {
      wasConvertError = true;
      caught = e.Message();
    }
  });
  thread.WaitFor();
  EXPECT_TRUE(wasConvertError);
  EXPECT_EQ(caught, "'x' is not a valid integer value");
}

TEST(ThreadHandOver, OnTheMainThreadTheCallRunsDirectly) {
  bool ran = false;
  TThread::Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_THROW(TThread::Synchronize([] { throw EAbort(); }), EAbort);
  EXPECT_FALSE(MainThread::ServePending());
}

TEST(ThreadHandOver, ServePendingDoesNothingOffTheMainThread) {
  TWakeUpCounter wakeUps;
  std::future<void> call = MainThread::Post([] {});
  ASSERT_TRUE(wakeUps.Queued(5s));
  bool servedElsewhere = true;
  std::thread other([&] { servedElsewhere = MainThread::ServePending(); });
  other.join();
  EXPECT_FALSE(servedElsewhere);
  EXPECT_EQ(call.wait_for(0s), std::future_status::timeout);
  EXPECT_TRUE(MainThread::ServePending());
  EXPECT_EQ(call.wait_for(0s), std::future_status::ready);
}

TEST(ThreadLifetime, BodyThatEndsByItselfIsFinishedAndJoinable) {
  std::atomic<bool> notified{false};
  class TShort : public TThread {
   public:
    explicit TShort(std::atomic<bool>& notified) : FNotified(notified) { Start(); }
    ~TShort() override { StopAndWait(); }

   protected:
    void Execute() override { throw std::runtime_error("body fails"); }
    void DoTerminate() override { FNotified = true; }

   private:
    std::atomic<bool>& FNotified;
  } thread(notified);
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
  EXPECT_TRUE(notified) << "the end-of-thread notification runs even when the body fails";
}

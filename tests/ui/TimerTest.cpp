// The toolkit timer: ticks only while enabled with a non-zero interval.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "tests/ui/TestApplication.h"
#include "toolkit/qt/Timer.h"

TEST(Timer, TicksOnlyWhileEnabledWithNonZeroInterval) {
  TestApplication();
  TTimer timer;
  QSignalSpy ticks(&timer, &TTimer::OnTimer);
  timer.SetInterval(0);
  EXPECT_FALSE(timer.Running());
  QTest::qWait(30);
  EXPECT_EQ(ticks.count(), 0);

  timer.SetInterval(5);
  EXPECT_TRUE(timer.Running());
  QTest::qWait(60);
  EXPECT_GE(ticks.count(), 1);

  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Running());
  const auto before = ticks.count();
  QTest::qWait(30);
  EXPECT_EQ(ticks.count(), before);
  // The interval is kept while disabled.
  EXPECT_EQ(timer.Interval(), 5);
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.Running());
}

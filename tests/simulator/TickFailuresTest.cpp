#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulator/TickFailures.h"
#include "toolkit/Exception.h"

namespace {

// Records reports; answers each at once unless told to keep it open.
struct Reports {
  std::vector<TFailureReport> Shown;
  bool KeepOpen = true;
  TTickFailures Failures{[this](const TFailureReport& report) {
    Shown.push_back(report);
    if (!KeepOpen) Failures.ReportClosed();
  }};
};

}  // namespace

TEST(TickFailures, RepeatedFailureIsReportedOncePerRunAndAfreshAfterOpen) {
  Reports r;
  r.KeepOpen = false;
  const auto closedPort = [] { throw Exception("I/O error 104"); };
  for (int i = 0; i < 3; ++i) r.Failures.Run(TTick::Poll, closedPort);
  ASSERT_EQ(r.Shown.size(), 1u);
  EXPECT_EQ(r.Shown[0].Text, "I/O error 104");
  // The other work keeps its own memory.
  r.Failures.Run(TTick::CardIn, closedPort);
  EXPECT_EQ(r.Shown.size(), 2u);
  // A success ends the run; so does opening the port.
  r.Failures.Run(TTick::Poll, [] {});
  r.Failures.Run(TTick::Poll, closedPort);
  EXPECT_EQ(r.Shown.size(), 3u);
  r.Failures.Reset();
  r.Failures.Failed(TTick::Poll, TFailureKind::Port, "I/O error 104");
  r.Failures.Failed(TTick::CardIn, TFailureKind::Port, "I/O error 104");
  EXPECT_EQ(r.Shown.size(), 5u);
  // A silent abort was reported by whoever raised it: neither a failure nor a success.
  EXPECT_FALSE(r.Failures.Run(TTick::Poll, [] { throw EAbort(); }));
  r.Failures.Failed(TTick::Poll, TFailureKind::Port, "I/O error 104");
  EXPECT_EQ(r.Shown.size(), 5u);
}

TEST(TickFailures, EveryConsumedLineIsReportedEvenWithTheSameText) {
  Reports r;
  r.KeepOpen = false;
  for (int i = 0; i < 2; ++i) {
    r.Failures.Run(TTick::Poll, [] { throw EConvertError("'' is not a valid integer value"); });
  }
  ASSERT_EQ(r.Shown.size(), 2u);
  EXPECT_EQ(r.Shown[1].Kind, TFailureKind::PunchLine);
}

TEST(TickFailures, OneReportAtATimeAndWhatCameMeanwhileIsGatheredIntoTheNext) {
  Reports r;
  r.Failures.Failed(TTick::Poll, TFailureKind::PunchLine, "bad line 1");
  for (int i = 2; i <= 13; ++i) {
    r.Failures.Failed(TTick::Poll, TFailureKind::PunchLine, "bad line " + std::to_string(i));
  }
  r.Failures.Failed(TTick::CardIn, TFailureKind::Port, "Error 5: Input/output error");
  ASSERT_EQ(r.Shown.size(), 1u);
  EXPECT_EQ(r.Failures.Gathered(), 13);
  r.Failures.ReportClosed();
  ASSERT_EQ(r.Shown.size(), 2u);
  EXPECT_EQ(r.Shown[1].Kind, TFailureKind::Port);
  EXPECT_EQ(r.Shown[1].Text,
            "Error 5: Input/output error\nbad line 2\n... and 11 more punch-file errors");
  r.Failures.ReportClosed();
  EXPECT_EQ(r.Shown.size(), 2u);  // nothing new came
  EXPECT_FALSE(r.Failures.ReportOpen());

  // Once shut down, nothing gathered is shown and nothing new opens.
  r.Failures.Failed(TTick::Poll, TFailureKind::PunchLine, "bad line 14");
  r.Failures.Failed(TTick::Poll, TFailureKind::PunchLine, "bad line 15");
  r.Failures.Shutdown();
  r.Failures.ReportClosed();
  r.Failures.Failed(TTick::Poll, TFailureKind::PunchLine, "bad line 16");
  EXPECT_EQ(r.Shown.size(), 3u);
}

#include "toolkit/ErrorReport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit/MainThread.h"

namespace {

class ErrorReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetErrorReportHook([this](const Exception& e) { FReported.push_back(e.Message()); });
  }
  void TearDown() override {
    SetErrorReportHook(nullptr);
    SetProcessMessagesHook(nullptr);
  }
  std::vector<std::string> FReported;
};

}  // namespace

TEST_F(ErrorReportTest, AbortIsSilentEverythingElseIsReportedOnce) {
  ReportException(EAbort());
  EXPECT_TRUE(FReported.empty());
  ReportException(EConvertError("'1x' is not a valid integer value"));
  ReportException(EInOutError(2, "File not found"));
  ReportException(Exception("Sending failed"));
  EXPECT_EQ(FReported, (std::vector<std::string>{"'1x' is not a valid integer value",
                                                 "File not found", "Sending failed"}));
}

TEST_F(ErrorReportTest, DefaultReportGoesToStandardError) {
  SetErrorReportHook(nullptr);
  testing::internal::CaptureStderr();
  ReportException(Exception("Card image too short"));
  ReportException(EAbort());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Card image too short\n");
  EXPECT_TRUE(FReported.empty());
}

TEST_F(ErrorReportTest, ProcessPendingMessagesServesHandOversByDefault) {
  bool ran = false;
  std::future<void> call = MainThread::Post([&] { ran = true; });
  ProcessPendingMessages();
  EXPECT_TRUE(ran);

  int hookCalls = 0;
  SetProcessMessagesHook([&] { ++hookCalls; });
  bool ranAgain = false;
  std::future<void> second = MainThread::Post([&] { ranAgain = true; });
  ProcessPendingMessages();
  EXPECT_EQ(hookCalls, 1);
  EXPECT_FALSE(ranAgain) << "an installed hook replaces the default";
  MainThread::ServePending();
  EXPECT_TRUE(ranAgain);
}

// The standard error box, the error dialog and the guard around handlers.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <stdexcept>

#include "tests/ui/TestApplication.h"
#include "toolkit/qt/ErrorText.h"
#include "toolkit/qt/Guarded.h"
#include "toolkit/qt/MessageDialog.h"

struct FullStopCase {
  std::string Message;
  std::string Shown;
};

class ErrorBoxTextTest : public testing::TestWithParam<FullStopCase> {};

TEST_P(ErrorBoxTextTest, AppendsFullStopOnlyAfterCharactersSortingAfterIt) {
  EXPECT_EQ(ErrorBoxText(GetParam().Message), GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ErrorBoxTextTest,
    testing::Values(FullStopCase{"File not found", "File not found."},
                    FullStopCase{"Done.", "Done."},
                    FullStopCase{"I/O error (104)", "I/O error (104)"},
                    FullStopCase{"ends with comma,", "ends with comma,"},
                    FullStopCase{"ends with slash/", "ends with slash/."},
                    FullStopCase{"code 7", "code 7."},
                    FullStopCase{"", ""},
                    // An 8-bit last byte sorts after "." as unsigned.
                    FullStopCase{"Caf\xE9", "Caf\xE9."}));

TEST(ErrorBox, ShowsMessageWithFullStopCaptionedWithTitle) {
  TApplication& app = TestApplication();
  app.ShowException(Exception("File not found"));
  ASSERT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ShownBoxes()[0].Caption, "Korvex Simulator");
  EXPECT_EQ(ShownBoxes()[0].Text, "File not found.");
}

TEST(ErrorBox, ShowsNothingForSilentAbort) {
  TApplication& app = TestApplication();
  app.ShowException(EAbort());
  EXPECT_TRUE(ShownBoxes().empty());
}

TEST(ErrorDialog, HasErrorCaptionAndTextUnchanged) {
  TestApplication();
  ShowErrorDialog("Frame error");
  ShowErrorDialog("Overrun error");
  ASSERT_EQ(ShownBoxes().size(), 2u);
  EXPECT_EQ(ShownBoxes()[0].Caption, "Error");
  EXPECT_EQ(ShownBoxes()[0].Text, "Frame error");
  EXPECT_EQ(ShownBoxes()[1].Text, "Overrun error");
}

TEST(ErrorDialog, KeepsServingTimersWhileOpen) {
  TestApplication();
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(0);
  // The hook answers at the first turn of the nested loop; zero-interval ticks queued
  // before it must still have been handled inside the dialog's loop.
  ShowErrorDialog("waiting");
  timer.stop();
  EXPECT_GE(ticks, 1);
}

TEST(Guarded, ReportsEachKindOfFailureAndSwallowsAbort) {
  TestApplication();
  Guarded([] { throw EConvertError("'x' is not a valid integer value"); });
  Guarded([] { throw EAbort(); });
  Guarded([] { throw std::runtime_error("bad thing"); });
  Guarded([] { throw 42; });
  bool ran = false;
  Guarded([&] { ran = true; });
  EXPECT_TRUE(ran);
  ASSERT_EQ(ShownBoxes().size(), 3u);
  EXPECT_EQ(ShownBoxes()[0].Text, "'x' is not a valid integer value.");
  EXPECT_EQ(ShownBoxes()[1].Text, "bad thing.");
  EXPECT_EQ(ShownBoxes()[2].Text, "Unknown error.");
  for (const auto& box : ShownBoxes()) EXPECT_EQ(box.Caption, "Korvex Simulator");
}

TEST(Guarded, ErrorRaisedInsideEventLoopHandlerIsReportedAndLoopGoesOn) {
  TestApplication();
  int after = 0;
  QTimer::singleShot(0, [] { Guarded([] { throw Exception("Timer failed"); }); });
  QTimer::singleShot(0, [&] { ++after; });
  for (int i = 0; i < 5 && after == 0; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(after, 1);
  ASSERT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ShownBoxes()[0].Text, "Timer failed.");
}

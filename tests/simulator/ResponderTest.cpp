#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PunchLine.h"
#include "TempDir.h"
#include "simulator/CardImage.h"
#include "simulator/PunchFile.h"
#include "simulator/Responder.h"
#include "simulator/StationMessages.h"
#include "toolkit/Exception.h"

namespace {

// Records every call in one sequence, so that the order of the steps can be checked.
class RecordingSink : public IResponderSink {
 public:
  std::vector<std::string> Calls;
  std::vector<ByteString> Written, Received, Log;
  std::string Status = "Status";
  long ReadBytes = 0;
  bool FailWrites = false;

  void WriteText(const ByteString& bytes) override {
    Calls.push_back("write");
    if (FailWrites) throw Exception("Port not open");
    Written.push_back(bytes);
  }
  void AddReceivedLine(const ByteString& chunk) override {
    Calls.push_back("memo");
    Received.push_back(chunk);
  }
  void AddLogLine(const ByteString& line) override {
    Calls.push_back("log");
    Log.push_back(line);
  }
  void SetStatus(const std::string& text) override {
    Calls.push_back("status");
    Status = text;
  }
  void AddReadBytes(int count) override { ReadBytes += count; }
};

PunchLine Card(const std::string& number) {
  PunchLine line;
  line.Number = number;
  line.Punches = {{"31", "1.00"}, {"32", "2.00"}};
  return line;
}

class ResponderTest : public ::testing::Test {
 protected:
  void SetUp() override { UseLines({Card("1001").Text(), Card("1002").Text(), Card("1003").Text()}); }

  void UseLines(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& l : lines) bytes += l + "\r\n";
    Punches.Close();
    Punches.Open(Dir.Write("data.epl", bytes));
  }

  void Poll() { Responder.Poll(10, 0); }

  // Receives bytes and forgets the received-pane call, so that Calls shows the poll alone.
  void Deliver(const ByteString& bytes) {
    Responder.Receive(bytes);
    Sink.Calls.clear();
  }

  // The card number that a card data message carries, read back from its escaped image.
  static int CardNumberIn(const ByteString& message) {
    ByteString image;
    for (std::size_t i = 4; i + 2 < message.size(); ++i) {
      if (ByteAt(message, i) == DLE) ++i;
      image.push_back(message[i]);
    }
    return ByteAt(image, 4) << 8 | ByteAt(image, 5);
  }

  TempDir Dir;
  TPunchFile Punches;
  RecordingSink Sink;
  TResponder Responder{Sink, Punches};
};

TEST_F(ResponderTest, ReceiveShowsOnlyChunksWithVisibleBytesButKeepsAll) {
  const ByteString chunks[] = {MakeBytes({0x20, 0x0D, 0x0A}), ByteString(2, '\0'), "",
                               MakeBytes({0x0D, 0x21, 0x20})};
  for (const auto& chunk : chunks) Responder.Receive(chunk);
  ASSERT_EQ(Sink.Received.size(), 1u);
  EXPECT_EQ(Sink.Received[0], chunks[3]);  // untrimmed
  EXPECT_EQ(Sink.ReadBytes, 8);
  EXPECT_EQ(Responder.ReceivedText(), chunks[0] + chunks[1] + chunks[3]);
  EXPECT_TRUE(Sink.Written.empty());
}

TEST_F(ResponderTest, EmptyBufferPollDoesNothing) {
  Poll();
  EXPECT_TRUE(Sink.Calls.empty());
}

TEST_F(ResponderTest, VersionRequestAloneIsAnswered) {
  for (const ByteString& request : {VersionRequest, VersionRequestDoubled}) {
    Sink = RecordingSink();
    Deliver(request);
    Poll();
    EXPECT_EQ(Sink.Calls, (std::vector<std::string>{"log", "write", "status", "log"}));
    EXPECT_EQ(Sink.Written, std::vector<ByteString>{VersionReply});
    EXPECT_EQ(Sink.Log, (std::vector<ByteString>{"RECEIVED What version?: 2.113.3.",
                                                 "SEND version: 2.113.16.12.83.3."}));
    EXPECT_EQ(Sink.Status, "I sent version");
    EXPECT_TRUE(Responder.ReceivedText().empty());
  }
}

TEST_F(ResponderTest, VersionRequestWithAnythingAroundIsDropped) {
  const ByteString buffers[] = {VersionRequest + "\r", VersionRequest + VersionRequest,
                                ByteString(1, '\0') + VersionRequest, MakeBytes({0x02, 0x71}),
                                "\x02\x02\x02q\x03"};
  for (const auto& buffer : buffers) {
    Deliver(buffer);
    Poll();
    EXPECT_TRUE(Responder.ReceivedText().empty());
  }
  EXPECT_TRUE(Sink.Written.empty());
  EXPECT_TRUE(Sink.Log.empty());
  EXPECT_EQ(Sink.Status, "Status");
}

// A request split over two polls is lost: each half alone matches nothing.
TEST_F(ResponderTest, SplitRequestIsLost) {
  Deliver("\x02" "F");
  Poll();
  Deliver("I\x03");
  Poll();
  EXPECT_TRUE(Sink.Calls.empty());
}

TEST_F(ResponderTest, CardInWinsOverADataRequestInTheSameBuffer) {
  Deliver(DataRequest1 + CardInAnnouncement);
  Poll();
  EXPECT_EQ(Sink.Calls, (std::vector<std::string>{"log", "write", "status", "log"}));
  EXPECT_EQ(Sink.Written, std::vector<ByteString>{DataRequest1});
  EXPECT_EQ(Sink.Log, (std::vector<ByteString>{"RECEIVED KX Card IN: 2.70.73.3.",
                                               "SEND I want data: 2.49.3."}));
  EXPECT_EQ(Sink.Status, "FI - KX card in, require data");
  EXPECT_TRUE(Responder.ReceivedText().empty());
  EXPECT_EQ(Responder.CardsSent(), 0);

  // The punch file was not touched: the next data request gets the first line.
  Deliver(DataRequest1);
  Poll();
  ASSERT_EQ(Sink.Written.size(), 2u);
  EXPECT_EQ(CardNumberIn(Sink.Written[1]), 1001);
}

TEST_F(ResponderTest, OneCardPerPollWhateverTheBufferHolds) {
  const ByteString buffers[] = {DataRequest1 + DataRequest1, "xx" + DataRequest2 + "\xFF\x00",
                                DataRequest2 + DataRequest1};
  int expected = 1001;
  for (const auto& buffer : buffers) {
    Sink.Written.clear();
    Deliver(buffer);
    Poll();
    ASSERT_EQ(Sink.Written.size(), 1u);
    EXPECT_EQ(CardNumberIn(Sink.Written[0]), expected++);
    EXPECT_TRUE(Responder.ReceivedText().empty());
  }
  EXPECT_EQ(Responder.CardsSent(), 3);
  EXPECT_EQ(Sink.Status, "3");
}

TEST_F(ResponderTest, CardDataStepsAndLogLine) {
  Deliver(DataRequest1);
  Poll();
  EXPECT_EQ(Sink.Calls, (std::vector<std::string>{"status", "write", "log", "status"}));
  ASSERT_EQ(Sink.Written.size(), 1u);
  ByteString image = MakeTemplateImage();
  FillCardImageFromLine(Card("1001").Text(), image, 10, 0);
  EXPECT_EQ(Sink.Written[0], FrameCardData(image));
  ASSERT_EQ(Sink.Log.size(), 1u);
  EXPECT_EQ(Sink.Log[0], ExchangeLogLine("SEND CARD DATA", Sink.Written[0]));
  EXPECT_EQ(Sink.Log[0].rfind("SEND CARD DATA: 2.49.16.1.170.42.16.0.16.1.16.3.233.", 0), 0u);
  EXPECT_EQ(Sink.Log[0].substr(Sink.Log[0].size() - 3), ".3.");
  EXPECT_EQ(Sink.Status, "1");
}

TEST_F(ResponderTest, TemplateGoesOutAtTheEndOfTheFile) {
  UseLines({});
  for (int i = 1; i <= 2; ++i) {
    Deliver(DataRequest2);
    Poll();
    ASSERT_EQ(Sink.Written.size(), static_cast<std::size_t>(i));
    EXPECT_EQ(Sink.Written.back(), FrameCardData(MakeTemplateImage()));
    EXPECT_EQ(Responder.CardsSent(), i);
  }
}

TEST_F(ResponderTest, FailedWriteLeavesTheRequestForTheNextPoll) {
  struct Case {
    ByteString request;
    std::vector<std::string> callsBeforeFailure;
  } cases[] = {{VersionRequest, {"log", "write"}},
               {CardInAnnouncement, {"log", "write"}},
               {DataRequest1, {"status", "write"}}};
  for (const auto& c : cases) {
    Sink = RecordingSink();
    Sink.FailWrites = true;
    const int cardsBefore = Responder.CardsSent();
    Deliver(c.request);
    EXPECT_THROW(Poll(), Exception);
    EXPECT_EQ(Sink.Calls, c.callsBeforeFailure);
    EXPECT_EQ(Responder.ReceivedText(), c.request);
    EXPECT_EQ(Responder.CardsSent(), cardsBefore);

    Sink.FailWrites = false;
    Poll();
    ASSERT_EQ(Sink.Written.size(), 1u);
    EXPECT_TRUE(Responder.ReceivedText().empty());
  }
  // The failed card attempt consumed line 1001; the retry sent 1002.
  EXPECT_EQ(CardNumberIn(Sink.Written[0]), 1002);
  EXPECT_EQ(Responder.CardsSent(), 1);
  EXPECT_EQ(Sink.Status, "1");
}

TEST_F(ResponderTest, BadPunchLinesAreConsumedByTheirFailures) {
  UseLines({"bad", "", Card("2002").Text()});
  Deliver(DataRequest1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_THROW(Poll(), EConvertError);
    EXPECT_EQ(Sink.Status, "Sending data");
    EXPECT_EQ(Responder.ReceivedText(), DataRequest1);
  }
  EXPECT_TRUE(Sink.Written.empty());
  EXPECT_TRUE(Sink.Log.empty());
  Poll();
  ASSERT_EQ(Sink.Written.size(), 1u);
  EXPECT_EQ(CardNumberIn(Sink.Written[0]), 2002);
  EXPECT_EQ(Responder.CardsSent(), 1);
}

TEST_F(ResponderTest, PunchFileThatNeverOpenedFailsBeforeSending) {
  Punches.Close();
  Deliver(DataRequest1);
  try {
    Poll();
    ADD_FAILURE();
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.Message(), "I/O error 104");
  }
  EXPECT_TRUE(Sink.Written.empty());
  EXPECT_EQ(Responder.ReceivedText(), DataRequest1);
}

TEST_F(ResponderTest, SendingByHandAndByTimer) {
  Responder.SendVersionRequest();
  Responder.SendCardIn();
  Responder.SendCardInByTimer();
  EXPECT_EQ(Sink.Written,
            (std::vector<ByteString>{VersionRequest, CardInAnnouncement, CardInAnnouncement}));
  EXPECT_EQ(Sink.Log,
            (std::vector<ByteString>{"SEND What version?: 2.113.3.", "SEND KX card IN: 2.70.73.3.",
                                     "SEND Card IN: 2.70.73.3."}));

  // A failed write logs nothing.
  Sink = RecordingSink();
  Sink.FailWrites = true;
  EXPECT_THROW(Responder.SendCardInByTimer(), Exception);
  EXPECT_THROW(Responder.SendVersionRequest(), Exception);
  EXPECT_TRUE(Sink.Log.empty());
}

TEST(ExchangeLogLine, EveryByteAsUnsignedDecimal) {
  EXPECT_EQ(ExchangeLogLine("X", ""), "X: ");
  EXPECT_EQ(ExchangeLogLine("X", MakeBytes({0x00, 0xFF, 0x80})), "X: 0.255.128.");
}

}  // namespace

#include "simulator/Responder.h"

#include "simulator/CardImage.h"
#include "simulator/StationMessages.h"

namespace {

bool Contains(const ByteString& text, const ByteString& pattern) {
  return text.find(pattern) != ByteString::npos;
}

// True when the chunk holds anything above blanks and control bytes.
bool HasVisibleByte(const ByteString& chunk) {
  for (char c : chunk)
    if (static_cast<std::uint8_t>(c) > 0x20) return true;
  return false;
}

}  // namespace

ByteString ExchangeLogLine(const ByteString& caption, const ByteString& bytes) {
  ByteString line = caption + ": ";
  for (char c : bytes) {
    line += std::to_string(static_cast<std::uint8_t>(c));
    line += '.';
  }
  return line;
}

void TResponder::Reset() noexcept {
  FReceivedText.clear();
  FCardsSent = 0;
}

void TResponder::Receive(const ByteString& chunk) {
  if (HasVisibleByte(chunk)) FSink.AddReceivedLine(chunk);
  FSink.AddReadBytes(static_cast<int>(chunk.size()));
  FReceivedText += chunk;
}

void TResponder::Poll(int hours, int minutes) {
  if (FReceivedText.empty()) return;
  if (FReceivedText == VersionRequest || FReceivedText == VersionRequestDoubled)
    AnswerVersionRequest();
  else if (Contains(FReceivedText, CardInAnnouncement))
    AnswerCardIn();
  else if (Contains(FReceivedText, DataRequest1) || Contains(FReceivedText, DataRequest2))
    SendCardData(hours, minutes);
  else
    FReceivedText.clear();
}

// Each branch keeps its steps in this order: a failing step leaves the earlier ones done and
// the buffer untouched.
void TResponder::AnswerVersionRequest() {
  LogExchange("RECEIVED What version?", VersionRequest);
  FSink.WriteText(VersionReply);
  FSink.SetStatus("I sent version");
  LogExchange("SEND version", VersionReply);
  FReceivedText.clear();
}

void TResponder::AnswerCardIn() {
  LogExchange("RECEIVED KX Card IN", CardInAnnouncement);
  FSink.WriteText(DataRequest1);
  FReceivedText.clear();
  FSink.SetStatus("FI - KX card in, require data");
  LogExchange("SEND I want data", DataRequest1);
}

void TResponder::SendCardData(int hours, int minutes) {
  FSink.SetStatus("Sending data");
  ByteString image = MakeTemplateImage();
  FillCardImage(FPunchFile, image, hours, minutes);
  const ByteString message = FrameCardData(image);
  FSink.WriteText(message);
  LogExchange("SEND CARD DATA", message);
  FReceivedText.clear();
  FCardsSent = static_cast<std::int32_t>(static_cast<std::uint32_t>(FCardsSent) + 1u);
  FSink.SetStatus(std::to_string(FCardsSent));
}

void TResponder::SendVersionRequest() {
  FSink.WriteText(VersionRequest);
  LogExchange("SEND What version?", VersionRequest);
}

void TResponder::SendCardIn() {
  FSink.WriteText(CardInAnnouncement);
  LogExchange("SEND KX card IN", CardInAnnouncement);
}

void TResponder::SendCardInByTimer() {
  FSink.WriteText(CardInAnnouncement);
  LogExchange("SEND Card IN", CardInAnnouncement);
}

void TResponder::LogExchange(const ByteString& caption, const ByteString& bytes) {
  FSink.AddLogLine(ExchangeLogLine(caption, bytes));
}

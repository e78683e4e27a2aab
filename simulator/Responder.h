#pragma once
// The station's behaviour: gathers the received bytes, recognises requests at each poll and
// answers them, and sends announcements by hand or by timer. It knows no widget and no port:
// everything it shows or sends goes through an IResponderSink, which the main window provides.
#include <cstdint>
#include <string>

#include "toolkit/ByteString.h"

class TPunchFile;

class IResponderSink {
 public:
  virtual ~IResponderSink() = default;
  // Starts writing bytes to the line; raises when the port is closed or the write fails.
  virtual void WriteText(const ByteString& bytes) = 0;
  // One line in the received pane, holding the chunk as it came.
  virtual void AddReceivedLine(const ByteString& chunk) = 0;
  // One line in the exchange log.
  virtual void AddLogLine(const ByteString& line) = 0;
  virtual void SetStatus(const std::string& text) = 0;
  // Adds to the read counter; called for every chunk, also an empty one.
  virtual void AddReadBytes(int count) = 0;
};

// "caption: " followed by every byte as an unsigned decimal number and a dot.
ByteString ExchangeLogLine(const ByteString& caption, const ByteString& bytes);

class TResponder {
 public:
  TResponder(IResponderSink& sink, TPunchFile& punchFile) : FSink(sink), FPunchFile(punchFile) {}

  // Bytes received since the buffer was last cleared, in order of arrival.
  const ByteString& ReceivedText() const noexcept { return FReceivedText; }
  // Card data messages written; only grows.
  std::int32_t CardsSent() const noexcept { return FCardsSent; }

  // The state at window creation: empty buffer, no cards sent.
  void Reset() noexcept;
  void ClearReceivedText() noexcept { FReceivedText.clear(); }

  // The receive handler's work on one chunk read from the port. Recognises nothing.
  void Receive(const ByteString& chunk);

  // The poll: answers at most one request found in ReceivedText. hours and minutes are the
  // base time of the card times. A failure ends the poll at its step and leaves the buffer as
  // it was, so the next poll handles it again.
  void Poll(int hours, int minutes);

  void SendVersionRequest();  // by button
  void SendCardIn();          // by button
  void SendCardInByTimer();   // by the repeat timer

  void LogExchange(const ByteString& caption, const ByteString& bytes);

 private:
  void AnswerVersionRequest();
  void AnswerCardIn();
  void SendCardData(int hours, int minutes);

  IResponderSink& FSink;
  TPunchFile& FPunchFile;
  ByteString FReceivedText;
  std::int32_t FCardsSent = 0;
};

#include "serial/ComSettings.h"

#include "serial/ComPort.h"

namespace {
// Compare, store, re-apply: the one pattern of every setter.
template <typename T, typename Apply>
void Update(T& field, T value, Apply apply) {
  if (field == value) return;
  field = value;
  apply();
}
}  // namespace

void TFlowControl::Changed() {
  if (FOwner) FOwner->ApplyCommState();
}
void TFlowControl::SetDTR(TDTRControl value) {
  if (value != FDTR) CheckOrdinal(FOwner, "FlowControl.DTR", value, TDTRControl::dcHandshake);
  Update(FDTR, value, [this] { Changed(); });
}
void TFlowControl::SetRTS(TRTSControl value) {
  if (value != FRTS) CheckOrdinal(FOwner, "FlowControl.RTS", value, TRTSControl::rcToggle);
  Update(FRTS, value, [this] { Changed(); });
}
void TFlowControl::SetXOnXOff(TXOnXOffControl value) {
  if (value != FXOnXOff)
    CheckOrdinal(FOwner, "FlowControl.XOnXOff", value, TXOnXOffControl::xcInputOutput);
  Update(FXOnXOff, value, [this] { Changed(); });
}
void TFlowControl::SetXOnLimit(std::uint16_t value) {
  Update(FXOnLimit, value, [this] { Changed(); });
}
void TFlowControl::SetXOffLimit(std::uint16_t value) {
  Update(FXOffLimit, value, [this] { Changed(); });
}
void TFlowControl::Assign(const TFlowControl& source) {
  if (&source == this) return;
  const bool same = FDTR == source.FDTR && FRTS == source.FRTS &&
                    FXOnXOff == source.FXOnXOff && FXOnLimit == source.FXOnLimit &&
                    FXOffLimit == source.FXOffLimit;
  FDTR = source.FDTR;
  FRTS = source.FRTS;
  FXOnXOff = source.FXOnXOff;
  FXOnLimit = source.FXOnLimit;
  FXOffLimit = source.FXOffLimit;
  // One re-apply for the whole copy, so an open device takes it at once.
  if (!same) Changed();
}

void TCharacters::Changed() {
  if (FOwner) FOwner->ApplyCommState();
}
void TCharacters::SetXOn(char value) { Update(FXOn, value, [this] { Changed(); }); }
void TCharacters::SetXOff(char value) { Update(FXOff, value, [this] { Changed(); }); }
void TCharacters::SetError(char value) { Update(FError, value, [this] { Changed(); }); }
void TCharacters::SetEof(char value) { Update(FEof, value, [this] { Changed(); }); }
void TCharacters::SetEvent(char value) { Update(FEvent, value, [this] { Changed(); }); }
void TCharacters::Assign(const TCharacters& source) {
  if (&source == this) return;
  const bool same = FXOn == source.FXOn && FXOff == source.FXOff && FError == source.FError &&
                    FEof == source.FEof && FEvent == source.FEvent;
  FXOn = source.FXOn;
  FXOff = source.FXOff;
  FError = source.FError;
  FEof = source.FEof;
  FEvent = source.FEvent;
  if (!same) Changed();
}

void TBufferSizes::Changed() {
  if (FOwner) FOwner->ApplyBufferSizes();
}
void TBufferSizes::SetInput(std::int32_t value) { Update(FInput, value, [this] { Changed(); }); }
void TBufferSizes::SetOutput(std::int32_t value) {
  Update(FOutput, value, [this] { Changed(); });
}
void TBufferSizes::Assign(const TBufferSizes& source) {
  if (&source == this) return;
  const bool same = FInput == source.FInput && FOutput == source.FOutput;
  FInput = source.FInput;
  FOutput = source.FOutput;
  if (!same) Changed();
}

void TTimeouts::Changed() {
  if (FOwner) FOwner->ApplyTimeouts();
}
void TTimeouts::SetReadInterval(std::int32_t value) {
  Update(FReadInterval, value, [this] { Changed(); });
}
void TTimeouts::SetReadMultiplier(std::int32_t value) {
  Update(FReadMultiplier, value, [this] { Changed(); });
}
void TTimeouts::SetReadConstant(std::int32_t value) {
  Update(FReadConstant, value, [this] { Changed(); });
}
void TTimeouts::SetWriteMultiplier(std::int32_t value) {
  Update(FWriteMultiplier, value, [this] { Changed(); });
}
void TTimeouts::SetWriteConstant(std::int32_t value) {
  Update(FWriteConstant, value, [this] { Changed(); });
}
void TTimeouts::Assign(const TTimeouts& source) {
  if (&source == this) return;
  const bool same = FReadInterval == source.FReadInterval &&
                    FReadMultiplier == source.FReadMultiplier &&
                    FReadConstant == source.FReadConstant &&
                    FWriteMultiplier == source.FWriteMultiplier &&
                    FWriteConstant == source.FWriteConstant;
  FReadInterval = source.FReadInterval;
  FReadMultiplier = source.FReadMultiplier;
  FReadConstant = source.FReadConstant;
  FWriteMultiplier = source.FWriteMultiplier;
  FWriteConstant = source.FWriteConstant;
  if (!same) Changed();
}

#pragma once
// The port's four settings objects. Each setter stores a changed value and has the owning port
// re-apply it; Assign copies all values of another object (which stays the caller's).
#include <cstdint>

#include "serial/ComTypes.h"

class TFlowControl : public TPersistent {
 public:
  explicit TFlowControl(TCustomComPort* owner = nullptr) : FOwner(owner) {}
  TFlowControl(const TFlowControl& other) : TPersistent(), FOwner(nullptr) { Assign(other); }
  TFlowControl& operator=(const TFlowControl& other) { Assign(other); return *this; }
  void Assign(const TFlowControl& source);

  TCustomComPort* Owner() const noexcept { return FOwner; }
  TDTRControl DTR() const noexcept { return FDTR; }
  void SetDTR(TDTRControl value);
  TRTSControl RTS() const noexcept { return FRTS; }
  void SetRTS(TRTSControl value);
  TXOnXOffControl XOnXOff() const noexcept { return FXOnXOff; }
  void SetXOnXOff(TXOnXOffControl value);
  std::uint16_t XOnLimit() const noexcept { return FXOnLimit; }
  void SetXOnLimit(std::uint16_t value);
  std::uint16_t XOffLimit() const noexcept { return FXOffLimit; }
  void SetXOffLimit(std::uint16_t value);

 private:
  void Changed();
  TCustomComPort* FOwner;
  TDTRControl FDTR = TDTRControl::dcDefault;
  TRTSControl FRTS = TRTSControl::rcDefault;
  TXOnXOffControl FXOnXOff = TXOnXOffControl::xcDefault;
  std::uint16_t FXOnLimit = 0;
  std::uint16_t FXOffLimit = 0;
};

class TCharacters : public TPersistent {
 public:
  explicit TCharacters(TCustomComPort* owner = nullptr) : FOwner(owner) {}
  TCharacters(const TCharacters& other) : TPersistent(), FOwner(nullptr) { Assign(other); }
  TCharacters& operator=(const TCharacters& other) { Assign(other); return *this; }
  void Assign(const TCharacters& source);

  TCustomComPort* Owner() const noexcept { return FOwner; }
  char XOn() const noexcept { return FXOn; }
  void SetXOn(char value);
  char XOff() const noexcept { return FXOff; }
  void SetXOff(char value);
  char Error() const noexcept { return FError; }
  void SetError(char value);
  char Eof() const noexcept { return FEof; }
  void SetEof(char value);
  char Event() const noexcept { return FEvent; }
  void SetEvent(char value);

 private:
  void Changed();
  TCustomComPort* FOwner;
  char FXOn = 0x11;
  char FXOff = 0x13;
  char FError = 0;
  char FEof = 0;
  char FEvent = 0;
};

class TBufferSizes : public TPersistent {
 public:
  explicit TBufferSizes(TCustomComPort* owner = nullptr) : FOwner(owner) {}
  TBufferSizes(const TBufferSizes& other) : TPersistent(), FOwner(nullptr) { Assign(other); }
  TBufferSizes& operator=(const TBufferSizes& other) { Assign(other); return *this; }
  void Assign(const TBufferSizes& source);

  TCustomComPort* Owner() const noexcept { return FOwner; }
  std::int32_t Input() const noexcept { return FInput; }
  void SetInput(std::int32_t value);
  std::int32_t Output() const noexcept { return FOutput; }
  void SetOutput(std::int32_t value);

 private:
  void Changed();
  TCustomComPort* FOwner;
  std::int32_t FInput = 4096;
  std::int32_t FOutput = 2048;
};

class TTimeouts : public TPersistent {
 public:
  explicit TTimeouts(TCustomComPort* owner = nullptr) : FOwner(owner) {}
  TTimeouts(const TTimeouts& other) : TPersistent(), FOwner(nullptr) { Assign(other); }
  TTimeouts& operator=(const TTimeouts& other) { Assign(other); return *this; }
  void Assign(const TTimeouts& source);

  TCustomComPort* Owner() const noexcept { return FOwner; }
  std::int32_t ReadInterval() const noexcept { return FReadInterval; }
  void SetReadInterval(std::int32_t value);
  std::int32_t ReadMultiplier() const noexcept { return FReadMultiplier; }
  void SetReadMultiplier(std::int32_t value);
  std::int32_t ReadConstant() const noexcept { return FReadConstant; }
  void SetReadConstant(std::int32_t value);
  std::int32_t WriteMultiplier() const noexcept { return FWriteMultiplier; }
  void SetWriteMultiplier(std::int32_t value);
  std::int32_t WriteConstant() const noexcept { return FWriteConstant; }
  void SetWriteConstant(std::int32_t value);

 private:
  void Changed();
  TCustomComPort* FOwner;
  std::int32_t FReadInterval = 0;
  std::int32_t FReadMultiplier = 0;
  std::int32_t FReadConstant = 0;
  std::int32_t FWriteMultiplier = 0;
  std::int32_t FWriteConstant = 0;
};

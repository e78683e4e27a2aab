#pragma once
// Value types of the serial port: line-parameter enumerations (ordinal 0 keeps the device's
// present setting, except TOption), status sets, the error and the handler types.
#include <cstdint>
#include <string>

#include "serial/ComSet.h"
#include "toolkit/Component.h"
#include "toolkit/Exception.h"
#include "toolkit/Method.h"

class TCustomComPort;

enum class TBaudRate : std::uint8_t {
  brDefault, br110, br300, br600, br1200, br2400, br4800, br9600, br10400, br14400, br19200,
  br28800, br38400, br56000, br57600, br115200, br128000, br256000
};
enum class TParity : std::uint8_t { paDefault, paNone, paOdd, paEven, paMark, paSpace };
enum class TStopBits : std::uint8_t { sbDefault, sb1, sb1_5, sb2 };
enum class TDataBits : std::uint8_t { dbDefault, db4, db5, db6, db7, db8 };
enum class TOption : std::uint8_t {
  opCheckParity, opOutputCTSFlow, opOutputDSRFlow, opDSRSensitivity, opTXContinueOnXOff,
  opUseErrorChar, opDiscardNullBytes, opAbortOnError
};
enum class TDTRControl : std::uint8_t { dcDefault, dcDisable, dcEnable, dcHandshake };
enum class TRTSControl : std::uint8_t { rcDefault, rcDisable, rcEnable, rcHandshake, rcToggle };
enum class TXOnXOffControl : std::uint8_t { xcDefault, xcDisable, xcInput, xcOutput, xcInputOutput };
enum class TPriorityClass : std::uint8_t { pcDefault, pcIdle, pcNormal, pcHigh, pcRealTime };

// Refuses an ordinal outside its enumeration (callers pass list positions) with an EComError
// naming the setting, offered to the port's OnError when there is a port.
void CheckOrdinal(TCustomComPort* port, const char* setting, std::uint8_t ordinal,
                  std::uint8_t last);
template <typename E>
void CheckOrdinal(TCustomComPort* port, const char* setting, E value, E last) {
  CheckOrdinal(port, setting, static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(last));
}

enum class TModemStatusValue : std::uint8_t { msCTS, msDSR, msRing, msRLSD };
enum class TLineError : std::uint8_t {
  leBreak, leDeviceNotSelected, leFrame, leIO, leMode, leOutOfPaper, leOverrun,
  leDeviceTimeOut, leRxOverflow, leParity, leTxFull
};

using TOptions = TComSet<TOption, std::uint8_t>;
using TModemStatus = TComSet<TModemStatusValue, std::uint8_t>;
using TLineErrors = TComSet<TLineError, std::uint16_t>;

// Every failure of the port: the platform's code, or 0 for the port's own refusals.
class EComError : public Exception {
 public:
  EComError(std::int32_t code, std::string message)
      : Exception(std::move(message)), FErrorCode(code) {}
  std::int32_t ErrorCode() const noexcept { return FErrorCode; }

 private:
  std::int32_t FErrorCode;
};

// True when the failure means the device itself is gone (unplugged, hung up), so that
// owners stop using the port instead of failing at every call.
bool IsDeviceGone(const EComError& error);

// What OnError decides: let the EComError through, or turn it into the silent EAbort.
enum class TComAction : std::uint8_t { caRaise = 0, caAbort = 1 };

using TNotifyEvent = TMethod<TObject*>;
using TLineErrorEvent = TMethod<TObject*, TLineErrors>;
using TReadWriteEvent =
    TMethod<TObject*, void* /*Buffer*/, std::int32_t /*Length*/, bool /*WaitOnCompletion*/>;
using TComErrorEvent = TMethod<TCustomComPort*, EComError&, TComAction&>;

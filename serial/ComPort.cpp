// Construction, destruction and the port's own properties.
#include "serial/ComPort.h"

TCustomComPort::TCustomComPort(TComponent* owner)
    : TComponent(owner), FDeviceName("COM2"), FSynchronizeEvents(true) {
  FFlowControl = std::make_unique<TFlowControl>(this);
  FCharacters = std::make_unique<TCharacters>(this);
  FBufferSizes = std::make_unique<TBufferSizes>(this);
  FTimeouts = std::make_unique<TTimeouts>(this);
}

TCustomComPort::~TCustomComPort() {
  // The owner may already be half destroyed: none of its handlers may run from here, not
  // even a delivery that close still serves. The mask is left as it is: close clears it.
  {
    std::lock_guard lock(FHandlersLock);
    FOnError = nullptr;
    FAfterRead = FAfterWrite = FBeforeRead = FBeforeWrite = nullptr;
    FOnBreak = FOnCTSChange = FOnDSRChange = FOnEvent1 = FOnEvent2 = FOnPrinterError = FOnRing =
        FOnRLSDChange = FOnRx80PercFull = FOnRxChar = FOnRxFlag = FOnTxEmpty = nullptr;
    FOnLineError = nullptr;
  }
  try {
    Close();
  } catch (...) {
  }
  ReleaseAll();
  FTimeouts.reset();
  FBufferSizes.reset();
  FCharacters.reset();
  FFlowControl.reset();
}

std::string TCustomComPort::About() const {
  return "Version 1.5, serial port component of the Korvex Simulator";
}

bool TCustomComPort::Active() const {
  return Designing() ? FActiveRequested : FHandle != nullptr;
}

void TCustomComPort::SetActive(bool value) {
  if (value != Active() && !Loading() && !Designing()) {
    if (value) Open();
    else Close();
  }
  FActiveRequested = value;
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (FBaudRate == value) return;
  FBaudRate = value;
  ApplyCommState();
}

void TCustomComPort::SetDataBits(TDataBits value) {
  if (FDataBits == value) return;
  FDataBits = value;
  ApplyCommState();
}

void TCustomComPort::SetOptions(TOptions value) {
  if (FOptions == value) return;
  FOptions = value;
  ApplyCommState();
}

void TCustomComPort::SetParity(TParity value) {
  if (FParity == value) return;
  FParity = value;
  ApplyCommState();
}

void TCustomComPort::SetStopBits(TStopBits value) {
  if (FStopBits == value) return;
  FStopBits = value;
  ApplyCommState();
}

void TCustomComPort::SetDeviceName(const std::string& value) {
  if (FDeviceName == value) return;
  CheckClosed();
  FDeviceName = value;
}

void TCustomComPort::SetPriorityClass(TPriorityClass value) {
  if (FPriorityClass == value) return;
  CheckClosed();
  FPriorityClass = value;
}

void TCustomComPort::SetSynchronizeEvents(bool value) {
  if (FSynchronizeEvents == value) return;
  CheckClosed();
  FSynchronizeEvents = value;
}

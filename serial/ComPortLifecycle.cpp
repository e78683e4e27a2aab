// Opening, closing and configuring the device.
#include <array>

#include "serial/ComPort.h"

namespace {
constexpr std::array<std::uint32_t, 18> BaudRates = {
    0, 110, 300, 600, 1200, 2400, 4800, 9600, 10400, 14400, 19200,
    28800, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr std::array<std::int32_t, 5> PriorityClasses = {
    0, platform::IdlePriorityClass, platform::NormalPriorityClass,
    platform::HighPriorityClass, platform::RealtimePriorityClass};

template <typename E>
constexpr std::size_t Ord(E e) { return static_cast<std::size_t>(e); }

void SetFlag(std::uint32_t& flags, std::uint32_t flag, bool on) {
  if (on) flags |= flag;
  else flags &= ~flag;
}
}  // namespace

bool TCustomComPort::Configurable() const { return FHandle && !Designing(); }

void TCustomComPort::LoadingDone() {
  TComponent::LoadingDone();
  SetActive(FActiveRequested);
}

void TCustomComPort::Open() {
  if (!FHandle && !Designing()) OpenDevice();
}

void TCustomComPort::OpenDevice() {
  Close();
  platform::IPlatform& os = platform::Current();
  os.SetLastError(0);
  try {
    if (FPriorityClass != TPriorityClass::pcDefault) {
      FSavedPriorityClass = os.GetPriorityClass();
      os.SetPriorityClass(PriorityClasses[Ord(FPriorityClass)]);
    }
    FReadEvent = os.CreateEvent();
    CheckResult(FReadEvent != nullptr);
    // A failure without an error code must not leave the port half open.
    if (!FReadEvent) RaiseError(0, "Can't create event");
    FWriteEvent = os.CreateEvent();
    CheckResult(FWriteEvent != nullptr);
    if (!FWriteEvent) RaiseError(0, "Can't create event");
    StartEventThread();
    FHandle = os.Open(FDeviceName);
    CheckResult(FHandle != nullptr);
    if (!FHandle) RaiseError(0, "Can't open device");
    PurgeInput();
    PurgeOutput();
    ApplyBufferSizes();
    ApplyCommState();
    ApplyTimeouts();
    ApplyEventMask();
  } catch (...) {
    try {
      Close();
    } catch (...) {
      // The first failure is the one to report; the port ends closed regardless.
    }
    ReleaseAll();
    throw;
  }
}

void TCustomComPort::Close() {
  // Close waits for the event thread, which is running or waiting for this very handler:
  // closing from there would free the thread under itself or wait for ever.
  if (FDispatchingThread.load() == std::this_thread::get_id() && (FHandle || FEventThread))
    RaiseError(0, "Can't close the port from its own event handler");
  if (FHandle) {
    PurgeInput();
    PurgeOutput();
    WaitForReadCompletion();
    WaitForWriteCompletion();
  }
  if (FEventThread) StopEventThread();
  ReleaseDevice();
}

void TCustomComPort::ReleaseAll() noexcept {
  if (FEventThread) {
    try {
      StopEventThread();
    } catch (...) {
      // Wake the wait so the thread object can end it.
      if (FHandle) FHandle->SetCommMask(0);
      try {
        FEventThread.reset();
      } catch (...) {
      }
    }
    FEventThread.reset();
  }
  ReleaseDevice();
}

// The device handle only after the event thread has ended; the priority class last.
void TCustomComPort::ReleaseDevice() noexcept {
  FHandle.reset();
  FWriteEvent.reset();
  FReadEvent.reset();
  if (FSavedPriorityClass != -1) {
    platform::Current().SetPriorityClass(FSavedPriorityClass);
    FSavedPriorityClass = -1;
  }
}

void TCustomComPort::ApplyCommState() {
  if (!Configurable()) return;
  platform::TDeviceControlBlock dcb;
  const bool read = FHandle->GetCommState(dcb);
  CheckResult(read);
  // A block that could not be read is never written back as if it had been.
  if (!read) return;

  if (FBaudRate != TBaudRate::brDefault) dcb.BaudRate = BaudRates[Ord(FBaudRate)];
  if (FDataBits != TDataBits::dbDefault) dcb.ByteSize = static_cast<std::uint8_t>(Ord(FDataBits) + 3);
  if (FParity != TParity::paDefault) dcb.Parity = static_cast<std::uint8_t>(Ord(FParity) - 1);
  if (FStopBits != TStopBits::sbDefault) dcb.StopBits = static_cast<std::uint8_t>(Ord(FStopBits) - 1);

  dcb.XonChar = FCharacters->XOn();
  dcb.XoffChar = FCharacters->XOff();
  dcb.ErrorChar = FCharacters->Error();
  dcb.EofChar = FCharacters->Eof();
  dcb.EvtChar = FCharacters->Event();

  const TFlowControl& flow = *FFlowControl;
  if (flow.DTR() != TDTRControl::dcDefault) {
    dcb.Flags = (dcb.Flags & ~platform::fDtrControlMask) |
                (static_cast<std::uint32_t>(Ord(flow.DTR()) - 1) << 4);
  }
  if (flow.RTS() != TRTSControl::rcDefault) {
    dcb.Flags = (dcb.Flags & ~platform::fRtsControlMask) |
                (static_cast<std::uint32_t>(Ord(flow.RTS()) - 1) << 12);
  }
  if (flow.XOnXOff() != TXOnXOffControl::xcDefault) {
    const auto x = flow.XOnXOff();
    SetFlag(dcb.Flags, platform::fInX,
            x == TXOnXOffControl::xcInput || x == TXOnXOffControl::xcInputOutput);
    SetFlag(dcb.Flags, platform::fOutX,
            x == TXOnXOffControl::xcOutput || x == TXOnXOffControl::xcInputOutput);
  }
  dcb.XonLim = flow.XOnLimit();
  dcb.XoffLim = flow.XOffLimit();

  static constexpr std::array<std::uint32_t, 8> OptionFlags = {
      platform::fParity,         platform::fOutxCtsFlow,      platform::fOutxDsrFlow,
      platform::fDsrSensitivity, platform::fTXContinueOnXoff, platform::fErrorChar,
      platform::fNull,           platform::fAbortOnError};
  for (std::size_t i = 0; i < OptionFlags.size(); ++i)
    SetFlag(dcb.Flags, OptionFlags[i], FOptions.Contains(static_cast<TOption>(i)));

  CheckResult(FHandle->SetCommState(dcb));
}

void TCustomComPort::ApplyBufferSizes() {
  if (!Configurable()) return;
  CheckResult(FHandle->SetupComm(FBufferSizes->Input(), FBufferSizes->Output()));
}

void TCustomComPort::ApplyTimeouts() {
  if (!Configurable()) return;
  platform::TCommTimeouts t;
  CheckResult(FHandle->GetCommTimeouts(t));
  t.ReadIntervalTimeout = static_cast<std::uint32_t>(FTimeouts->ReadInterval());
  t.ReadTotalTimeoutMultiplier = static_cast<std::uint32_t>(FTimeouts->ReadMultiplier());
  t.ReadTotalTimeoutConstant = static_cast<std::uint32_t>(FTimeouts->ReadConstant());
  t.WriteTotalTimeoutMultiplier = static_cast<std::uint32_t>(FTimeouts->WriteMultiplier());
  t.WriteTotalTimeoutConstant = static_cast<std::uint32_t>(FTimeouts->WriteConstant());
  CheckResult(FHandle->SetCommTimeouts(t));
}

void TCustomComPort::PurgeInput() {
  if (!FHandle) return;
  CheckResult(FHandle->PurgeComm(platform::PurgeRxAbort | platform::PurgeRxClear));
}

void TCustomComPort::PurgeOutput() {
  if (!FHandle) return;
  CheckResult(FHandle->PurgeComm(platform::PurgeTxAbort | platform::PurgeTxClear));
}

#pragma once
// The serial port component: settings, open/close and device configuration, reading and
// writing, line status, the line-event thread and one error path.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "serial/ComSettings.h"
#include "serial/ComThread.h"
#include "serial/ComTypes.h"
#include "serial/platform/Platform.h"
#include "toolkit/ByteString.h"

class TCustomComPort : public TComponent {
 public:
  explicit TCustomComPort(TComponent* owner);
  // Closes the device (a failure never escapes; everything is released), then the settings go.
  ~TCustomComPort() override;

  // --- Properties ---
  std::string About() const;
  void SetAbout(const std::string&) {}  // fixed text: writes are ignored
  bool Active() const;
  void SetActive(bool value);
  bool ActiveRequested() const noexcept { return FActiveRequested; }
  TBaudRate BaudRate() const noexcept { return FBaudRate; }
  void SetBaudRate(TBaudRate value);
  TBufferSizes& BufferSizes() noexcept { return *FBufferSizes; }
  const TBufferSizes& BufferSizes() const noexcept { return *FBufferSizes; }
  void SetBufferSizes(const TBufferSizes& value) { FBufferSizes->Assign(value); }
  TCharacters& Characters() noexcept { return *FCharacters; }
  const TCharacters& Characters() const noexcept { return *FCharacters; }
  void SetCharacters(const TCharacters& value) { FCharacters->Assign(value); }
  TDataBits DataBits() const noexcept { return FDataBits; }
  void SetDataBits(TDataBits value);
  const std::string& DeviceName() const noexcept { return FDeviceName; }
  void SetDeviceName(const std::string& value);
  TFlowControl& FlowControl() noexcept { return *FFlowControl; }
  const TFlowControl& FlowControl() const noexcept { return *FFlowControl; }
  void SetFlowControl(const TFlowControl& value) { FFlowControl->Assign(value); }
  TLineErrors LineErrors();    // reading clears the device's error state
  TModemStatus ModemStatus();
  TOptions Options() const noexcept { return FOptions; }
  void SetOptions(TOptions value);
  TParity Parity() const noexcept { return FParity; }
  void SetParity(TParity value);
  TPriorityClass PriorityClass() const noexcept { return FPriorityClass; }
  void SetPriorityClass(TPriorityClass value);
  TStopBits StopBits() const noexcept { return FStopBits; }
  void SetStopBits(TStopBits value);
  bool SynchronizeEvents() const noexcept { return FSynchronizeEvents; }
  void SetSynchronizeEvents(bool value);
  TTimeouts& Timeouts() noexcept { return *FTimeouts; }
  const TTimeouts& Timeouts() const noexcept { return *FTimeouts; }
  void SetTimeouts(const TTimeouts& value) { FTimeouts->Assign(value); }

  // --- Events ---
  TReadWriteEvent AfterRead() const { return FAfterRead; }
  void SetAfterRead(const TReadWriteEvent& value) { StoreEvent(FAfterRead, value); }
  TReadWriteEvent AfterWrite() const { return FAfterWrite; }
  void SetAfterWrite(const TReadWriteEvent& value) { StoreEvent(FAfterWrite, value); }
  TReadWriteEvent BeforeRead() const { return FBeforeRead; }
  void SetBeforeRead(const TReadWriteEvent& value) { StoreEvent(FBeforeRead, value); }
  TReadWriteEvent BeforeWrite() const { return FBeforeWrite; }
  void SetBeforeWrite(const TReadWriteEvent& value) { StoreEvent(FBeforeWrite, value); }
  TNotifyEvent OnBreak() const { return FOnBreak; }
  void SetOnBreak(const TNotifyEvent& value) { StoreLineEvent(FOnBreak, value); }
  TNotifyEvent OnCTSChange() const { return FOnCTSChange; }
  void SetOnCTSChange(const TNotifyEvent& value) { StoreLineEvent(FOnCTSChange, value); }
  TNotifyEvent OnDSRChange() const { return FOnDSRChange; }
  void SetOnDSRChange(const TNotifyEvent& value) { StoreLineEvent(FOnDSRChange, value); }
  TComErrorEvent OnError() const { return FOnError; }
  void SetOnError(const TComErrorEvent& value) { StoreEvent(FOnError, value); }
  TNotifyEvent OnEvent1() const { return FOnEvent1; }
  void SetOnEvent1(const TNotifyEvent& value) { StoreLineEvent(FOnEvent1, value); }
  TNotifyEvent OnEvent2() const { return FOnEvent2; }
  void SetOnEvent2(const TNotifyEvent& value) { StoreLineEvent(FOnEvent2, value); }
  TLineErrorEvent OnLineError() const { return FOnLineError; }
  void SetOnLineError(const TLineErrorEvent& value) { StoreLineEvent(FOnLineError, value); }
  TNotifyEvent OnPrinterError() const { return FOnPrinterError; }
  void SetOnPrinterError(const TNotifyEvent& value) { StoreLineEvent(FOnPrinterError, value); }
  TNotifyEvent OnRing() const { return FOnRing; }
  void SetOnRing(const TNotifyEvent& value) { StoreLineEvent(FOnRing, value); }
  TNotifyEvent OnRLSDChange() const { return FOnRLSDChange; }
  void SetOnRLSDChange(const TNotifyEvent& value) { StoreLineEvent(FOnRLSDChange, value); }
  TNotifyEvent OnRx80PercFull() const { return FOnRx80PercFull; }
  void SetOnRx80PercFull(const TNotifyEvent& value) { StoreLineEvent(FOnRx80PercFull, value); }
  TNotifyEvent OnRxChar() const { return FOnRxChar; }
  void SetOnRxChar(const TNotifyEvent& value) { StoreLineEvent(FOnRxChar, value); }
  TNotifyEvent OnRxFlag() const { return FOnRxFlag; }
  void SetOnRxFlag(const TNotifyEvent& value) { StoreLineEvent(FOnRxFlag, value); }
  TNotifyEvent OnTxEmpty() const { return FOnTxEmpty; }
  void SetOnTxEmpty(const TNotifyEvent& value) { StoreLineEvent(FOnTxEmpty, value); }

  // --- Lifecycle ---
  void LoadingDone() override;  // applies the recorded Active once all settings are restored
  void Open();
  virtual void OpenDevice();
  void Close();

  // --- Device configuration (nothing happens while closed or in design mode) ---
  void ApplyCommState();
  void ApplyBufferSizes();
  void ApplyTimeouts();
  void ApplyEventMask();  // event mask from the assigned line-event handlers; parks/releases
  void PurgeInput();
  void PurgeOutput();

  // --- I/O and status ---
  void Read(void* buffer, std::int32_t count, bool waitOnCompletion);
  void Write(const void* buffer, std::int32_t count, bool waitOnCompletion);
  void WaitForReadCompletion();
  void WaitForWriteCompletion();
  ByteString ReadText();
  void WriteText(const ByteString& text);  // never waits; the text may be freed at once
  std::int32_t InputCount();

  // --- Event thread (one cycle, and the dispatch of the last wait's events) ---
  void WaitForEvent();
  void DispatchEvents();

  // --- Error path ---
  void CheckOpen();
  void CheckClosed();
  [[noreturn]] void RaiseError(std::int32_t code, const std::string& message);
  void CheckResult(bool succeeded);

  platform::IDevice* Handle() const noexcept { return FHandle.get(); }
  TComThread* EventThread() const noexcept { return FEventThread.get(); }
  std::uint32_t EventMask() const noexcept { return FEventMask; }
  std::int32_t SavedPriorityClass() const noexcept { return FSavedPriorityClass; }

 protected:
  // Open step 7: creates the parked event thread; raises "Can't create thread".
  void StartEventThread();
  // Close step 2: stop flag, mask 0, release, wait for the end while serving hand-overs, then
  // process pending messages once.
  void StopEventThread();

  std::unique_ptr<platform::IDevice> FHandle;  // open exactly when non-null
  std::unique_ptr<platform::IEvent> FReadEvent;
  std::unique_ptr<platform::IEvent> FWriteEvent;
  std::unique_ptr<TComThread> FEventThread;
  std::uint32_t FEventMask = 0;
  std::int32_t FSavedPriorityClass = -1;
  bool FActiveRequested = false;
  std::uint32_t FReadCount = 0;
  std::uint32_t FWriteCount = 0;

 private:
  friend class TComThread;

  // Handlers are written on the owner's thread and, without SynchronizeEvents, read on the
  // event thread: both sides go through FHandlersLock.
  template <typename Ev>
  void StoreEvent(Ev& field, const Ev& value) {
    std::lock_guard lock(FHandlersLock);
    if (!(field == value)) field = value;
  }
  template <typename Ev>
  void StoreLineEvent(Ev& field, const Ev& value) {
    {
      std::lock_guard lock(FHandlersLock);
      if (field == value) return;
      field = value;
    }
    ApplyEventMask();
  }
  template <typename Ev>
  Ev Handler(const Ev& field) const {
    std::lock_guard lock(FHandlersLock);
    return field;
  }
  bool Configurable() const;  // open and not in design mode
  // The open device, or the platform's invalid-handle failure raised through CheckResult.
  platform::IDevice& Device();
  // Releases whatever is held even when a close step fails; never throws.
  void ReleaseAll() noexcept;
  void ReleaseDevice() noexcept;
  void WaitForCompletion(platform::IEvent* done, platform::TDirection direction,
                         std::uint32_t expected);

  TBaudRate FBaudRate = TBaudRate::brDefault;
  TDataBits FDataBits = TDataBits::dbDefault;
  std::string FDeviceName;
  TOptions FOptions;
  TParity FParity = TParity::paDefault;
  TPriorityClass FPriorityClass = TPriorityClass::pcDefault;
  TStopBits FStopBits = TStopBits::sbDefault;
  bool FSynchronizeEvents = false;
  std::unique_ptr<TFlowControl> FFlowControl;
  std::unique_ptr<TCharacters> FCharacters;
  std::unique_ptr<TBufferSizes> FBufferSizes;
  std::unique_ptr<TTimeouts> FTimeouts;

  mutable std::mutex FHandlersLock;
  // The thread running DispatchEvents, so that its handlers cannot close the port under it.
  std::atomic<std::thread::id> FDispatchingThread{};
  TReadWriteEvent FAfterRead, FAfterWrite, FBeforeRead, FBeforeWrite;
  TNotifyEvent FOnBreak, FOnCTSChange, FOnDSRChange;
  TComErrorEvent FOnError;
  TNotifyEvent FOnEvent1, FOnEvent2;
  TLineErrorEvent FOnLineError;
  TNotifyEvent FOnPrinterError, FOnRing, FOnRLSDChange, FOnRx80PercFull, FOnRxChar, FOnRxFlag,
      FOnTxEmpty;
};

// The port as its owner uses it: every property and event of TCustomComPort, nothing added.
class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};

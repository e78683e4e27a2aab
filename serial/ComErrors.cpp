// The port's one error path: every failure is offered to OnError, then raised.
#include <cerrno>

#include "serial/ComPort.h"
#include "serial/ErrorText.h"

bool IsDeviceGone(const EComError& error) {
  return platform::Current().IsDeviceGone(error.ErrorCode());
}

void TCustomComPort::RaiseError(std::int32_t code, const std::string& message) {
  EComError error(code, message);
  TComAction action = TComAction::caRaise;
  if (const auto handler = Handler(FOnError); handler.Assigned()) handler(this, error, action);
  if (action == TComAction::caAbort) throw EAbort();
  throw error;
}

void TCustomComPort::CheckResult(bool succeeded) {
  if (succeeded) return;
  platform::IPlatform& os = platform::Current();
  const std::int32_t code = os.GetLastError();
  if (code == 0 || code == platform::ErrorIoPending) return;
  os.SetLastError(0);
  RaiseError(code, TrimErrorText(os.ErrorText(code)));
}

void TCustomComPort::CheckOpen() {
  const bool open = Designing() ? FActiveRequested : FHandle != nullptr;
  if (!open) RaiseError(0, "Can't perform this operation on a closed port");
}

void TCustomComPort::CheckClosed() {
  if (FHandle && !Designing()) RaiseError(0, "Can't perform this operation on an open port");
}

platform::IDevice& TCustomComPort::Device() {
  if (!FHandle) {
    // A call on a closed port fails as a call on an invalid handle would.
    platform::Current().SetLastError(EBADF);
    CheckResult(false);
    RaiseError(EBADF, TrimErrorText(platform::Current().ErrorText(EBADF)));
  }
  return *FHandle;
}

#pragma once
// The door's control block and timeouts as the Win32 records, and back.
#include "serial/platform/Platform.h"
#include "serial/platform/Win32Api.h"

namespace platform {

// A DCB with its length field set, as GetCommState expects it.
DCB EmptyDcb();
TDeviceControlBlock FromWin32(const DCB& dcb);
DCB ToWin32(const TDeviceControlBlock& block);

TCommTimeouts FromWin32(const COMMTIMEOUTS& timeouts);
COMMTIMEOUTS ToWin32(const TCommTimeouts& timeouts);

}  // namespace platform

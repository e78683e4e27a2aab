#pragma once
// The application's standard error report and the processing of pending messages. Both are
// hooks so that the window toolkit can show a message box and run its event loop, while the
// core stays free of it.
#include <functional>

#include "toolkit/Exception.h"

// Reports an error that escaped a handler: silent for EAbort, otherwise handed to the hook.
void ReportException(const Exception& e);
// Installs the hook (empty restores the default, which prints the message to stderr).
void SetErrorReportHook(std::function<void(const Exception&)> hook);

// Lets the main thread process its pending messages once.
void ProcessPendingMessages();
// Installs the hook (empty restores the default, MainThread::ServePending).
void SetProcessMessagesHook(std::function<void()> hook);

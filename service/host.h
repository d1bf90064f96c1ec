// Running as the service: the dispatcher, the control handler and the
// status reports around the run.
#pragma once

#include <windows.h>

#include "service/service.h"

// Every start- or stop-pending report promises the next one (or the final
// report) within this time; the run reports progress far more often.
constexpr DWORD kPendingWaitHintMs = 10000;
// Asks to be shut down early, before other services' processes.
constexpr DWORD kShutdownLevel = 0x3FF;

// Hands the calling thread to the service control dispatcher until the
// service has stopped.
void RunService();
// The service's control handler; public so that the controls Wine never
// sends (shutdown, pre-shutdown) can be tried in-process.
DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD eventType, void* eventData, void* context);

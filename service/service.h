// Running as the Windows service ovWebUI: the service host and the
// install / remove / start / stop commands.
#pragma once

#include <windows.h>

#include "launcher/launcher.h"
#include "support/support.h"

constexpr wchar_t kServiceName[] = L"ovWebUI";
constexpr wchar_t kServiceDisplayName[] = L"Orvane Web UI (Jetty)";
constexpr wchar_t kServiceDescription[] =
    L"This service provides web UI and API functionality for Orvane management server";

constexpr DWORD kRestartDelayMs = 30000;
constexpr DWORD kFailureResetPeriodSeconds = 3600;
constexpr DWORD kShutdownLevel = 0x3FF;
// Every start- or stop-pending report promises the next one (or the final
// report) within this time; the run reports progress far more often.
constexpr DWORD kPendingWaitHintMs = 10000;
// At system shutdown the service gets this long for the whole graceful stop.
constexpr DWORD kPreshutdownTimeoutMs = 45000;
static_assert(kPreshutdownTimeoutMs > kStopWorstCaseMs, "the pre-shutdown time must cover the whole stop");
// How long "stop" waits for the service to report itself stopped.
constexpr DWORD kStopServiceWaitMs = 60000;
static_assert(kStopServiceWaitMs > kStopWorstCaseMs, "\"stop\" must outwait the whole stop");
constexpr DWORD kStopServicePollMs = 200;
// Service-specific exit code of a service whose server ended on its own;
// 1 and 2 are the run's own failures (no Java, no server process).
constexpr DWORD kServiceExitServerEnded = 3;

void RunService();
// The service's control handler; public so that the controls Wine never
// sends (shutdown, pre-shutdown) can be tried in-process.
DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD eventType, void* eventData, void* context);

void InstallWebUIService();
void RemoveWebUIService();
void StartWebUIService();
void StopWebUIService();

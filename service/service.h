// Running as the Windows service ovWebUI: the service host, the graceful
// stop of the server, and the install / remove / start / stop commands.
#pragma once

#include <windows.h>

#include "support/support.h"

constexpr wchar_t kServiceName[] = L"ovWebUI";
constexpr wchar_t kServiceDisplayName[] = L"Orvane Web UI (Jetty)";
constexpr wchar_t kServiceDescription[] =
    L"This service provides web UI and API functionality for Orvane management server";

// Jetty's stop command waits up to 20 s itself (stop.wait=20); ours is longer.
constexpr DWORD kStopCommandWaitMs = 30000;
constexpr DWORD kStopPendingWaitHintMs = 60000;
constexpr DWORD kRestartDelayMs = 30000;
constexpr DWORD kFailureResetPeriodSeconds = 3600;
constexpr DWORD kShutdownLevel = 0x3FF;
// After the service is reported stopped, how long the process waits for the
// service thread to finish its run (log the server's end, close the log).
constexpr DWORD kServiceThreadExitWaitMs = 10000;

extern SERVICE_STATUS_HANDLE g_serviceStatusHandle;

void RunService();
void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
void WINAPI ServiceCtrlHandler(DWORD control);

// Asks Jetty to stop through its stop port, waits for the stop command at
// most kStopCommandWaitMs, then terminates the server with exit code 0.
void StopServer();

// Writes each chunk of the stop command's output to the log.
class LoggingProcessExecutor : public ProcessExecutor {
public:
    explicit LoggingProcessExecutor(const wchar_t* commandLine);
    // Ends the callbacks before this object's part is gone.
    ~LoggingProcessExecutor() override;
    void outputReceived(const char* chunk) override;
};

void InstallWebUIService();
void RemoveWebUIService();
void StartWebUIService();
void StopWebUIService();

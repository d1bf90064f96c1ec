// The service commands: install, remove, start, stop, restart and status,
// and the registration as the service manager has it.
#pragma once

#include <windows.h>

#include <string>

#include "launcher/run.h"
#include "service/service.h"

constexpr DWORD kRestartDelayMs = 30000;
constexpr DWORD kFailureResetPeriodSeconds = 3600;
// At system shutdown the service gets this long for the whole graceful stop.
constexpr DWORD kPreshutdownTimeoutMs = 45000;
static_assert(kPreshutdownTimeoutMs > RunLimits::kStopBudgetMs, "the pre-shutdown time must cover the whole stop");
// How long "stop" waits for the service to report itself stopped.
constexpr DWORD kStopServiceWaitMs = 60000;
static_assert(kStopServiceWaitMs > RunLimits::kStopBudgetMs, "\"stop\" must outwait the whole stop");
constexpr DWORD kStopServicePollMs = 200;
// How long "start" waits for the service to run or stop: the run's wait and
// a margin for the service's own start-up and its reports.
constexpr DWORD kStartServiceWaitMs = RunLimits::kServerReadyWaitMs + 10000;
constexpr DWORD kStartServicePollMs = 100;

// The service commands. Each returns its exit code: 0 on success, as
// sc.exe does, otherwise the Win32 error code of the step that failed.
DWORD InstallWebUIService();
DWORD RemoveWebUIService();
DWORD StartWebUIService();
DWORD StopWebUIService();
// Stops the service as "stop" does (one that is not running is no error),
// then starts it as "start" does; a failed stop gives the stop's code.
DWORD RestartWebUIService();
// Prints "ovWebUI: <state>" and returns 0 when the service runs,
// kExitNotRunning when it does not, or the error code when it cannot be
// queried. Needs no administrator rights.
constexpr DWORD kExitNotRunning = 1;
DWORD ShowWebUIServiceStatus();

// The service's registration as the manager has it, read without changing
// anything (no administrator rights needed).
struct ServiceRegistration {
    bool installed = false;
    std::wstring binaryPath;  // as registered: "\"<exe>\" service"
    std::wstring program;     // the exe that binary path names
    DWORD state = 0;          // SERVICE_RUNNING...
    DWORD processId = 0;
};
// False, with the error, when the manager or the service cannot be asked;
// a service that does not exist is not installed.
bool ReadServiceRegistration(ServiceRegistration& registration, DWORD& error);

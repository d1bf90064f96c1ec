#include <string>

#include "launcher/run.h"
#include "service/host.h"
#include "support/console.h"
#include "support/error_text.h"
#include "support/eventlog.h"
#include "support/handles.h"
#include "support/text.h"

namespace {

constexpr DWORD kAcceptedWhileRunning = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN;
// Until the server is up only a stop is taken; it stops the start.
constexpr DWORD kAcceptedWhileStarting = SERVICE_ACCEPT_STOP;

// The one status record of the service. The control handler, the run's
// progress reports and the service thread all report through it, under the
// lock, so check points only go up and nothing follows SERVICE_STOPPED
// (after which Windows may end the process at any moment).
SRWLOCK g_statusLock = SRWLOCK_INIT;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{SERVICE_WIN32_OWN_PROCESS, 0, 0, NO_ERROR, 0, 0, 0};
// A shutdown or pre-shutdown control came: a server that ends now is no
// failure. Kept here rather than asked of the system, whose answer
// (GetSystemMetrics) would load user32, and a console process with user32
// loaded never gets the logoff and shutdown events.
bool g_systemShuttingDown = false;
// When the stop was asked for; 0 while it was not.
ULONGLONG g_stopRequestedAtMs = 0;
// The run's waits report progress at every turn, some many times a second:
// the service manager hears of it at most once a second.
constexpr ULONGLONG kProgressReportIntervalMs = 1000;
ULONGLONG g_lastProgressReportMs = 0;

bool IsPending(DWORD state)
{
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
}

void ReportLocked(DWORD state, DWORD waitHintMs)
{
    if (g_status.dwCurrentState == SERVICE_STOPPED)
        return;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = state == SERVICE_RUNNING         ? kAcceptedWhileRunning
                                  : state == SERVICE_START_PENDING ? kAcceptedWhileStarting
                                                                   : 0;
    g_status.dwCheckPoint = IsPending(state) ? g_status.dwCheckPoint + 1 : 0;
    g_status.dwWaitHint = waitHintMs;
    if (g_statusHandle != nullptr)
        SetServiceStatus(g_statusHandle, &g_status);
}

// The run goes on: a start or stop under way shows a new check point.
void ReportProgress()
{
    ScopedLock lock(g_statusLock);
    const ULONGLONG now = GetTickCount64();
    if (IsPending(g_status.dwCurrentState) && now - g_lastProgressReportMs >= kProgressReportIntervalMs) {
        g_lastProgressReportMs = now;
        ReportLocked(g_status.dwCurrentState, kPendingWaitHintMs);
    }
}

// The server is up. A stop that came during the start keeps its report.
void ReportRunning()
{
    ScopedLock lock(g_statusLock);
    if (g_status.dwCurrentState == SERVICE_START_PENDING)
        ReportLocked(SERVICE_RUNNING, 0);
}

// The run stops a server that no longer answers its health check: the
// service is stopping from here on.
void ReportStopping()
{
    ScopedLock lock(g_statusLock);
    if (g_status.dwCurrentState == SERVICE_RUNNING || g_status.dwCurrentState == SERVICE_START_PENDING)
        ReportLocked(SERVICE_STOP_PENDING, kPendingWaitHintMs);
}

void WINAPI ServiceMain(DWORD, LPWSTR*)
{
    EnableEventReports(kServiceName);
    g_statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, &ServiceCtrlHandler, nullptr);
    {
        ScopedLock lock(g_statusLock);
        ReportLocked(SERVICE_START_PENDING, kPendingWaitHintMs);
    }
    SetProcessShutdownParameters(kShutdownLevel, 0);
    SetServiceRun(&ReportProgress, &ReportRunning, &ReportStopping);

    const int result = RunLauncher();
    const RunOutcome outcome = LastRunOutcome();

    // A run that never got a server up, or a server that died without being
    // asked to, is a failure: say so, so that the failure actions restart
    // the service. At system shutdown an ending server is expected.
    DWORD failure = 0;
    ULONGLONG stopRequestedAtMs = 0;
    {
        ScopedLock lock(g_statusLock);
        if (result != kRunServerEnded)
            failure = static_cast<DWORD>(result);
        else if (outcome.serverEndedOnItsOwn && !g_systemShuttingDown)
            failure = kServiceExitServerEnded;
        stopRequestedAtMs = g_stopRequestedAtMs;
    }
    // Here, not where the run logs the server's end: only here is an end
    // known to be a failure (at system shutdown it is expected).
    if (failure == kServiceExitServerEnded)
        ReportServiceEvent(MSG_SERVER_ENDED,
                           {DecimalText(outcome.serverExitCode).c_str(), outcome.serverLastOutput.c_str()});
    else if (failure == 0 && stopRequestedAtMs != 0)
        ReportServiceEvent(MSG_SERVICE_STOPPED, {DecimalText(GetTickCount64() - stopRequestedAtMs).c_str()});
    ScopedLock lock(g_statusLock);
    g_status.dwWin32ExitCode = failure != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
    g_status.dwServiceSpecificExitCode = failure;
    ReportLocked(SERVICE_STOPPED, 0);
}

}  // namespace

DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN: {
        ScopedLock lock(g_statusLock);
        if (control != SERVICE_CONTROL_STOP)
            g_systemShuttingDown = true;
        if (g_status.dwCurrentState == SERVICE_STOP_PENDING || g_status.dwCurrentState == SERVICE_STOPPED)
            return NO_ERROR;
        // The request first: a server that ends between the two is one that
        // was asked to, not one that died on its own.
        RequestServerStop();
        g_stopRequestedAtMs = GetTickCount64();
        // The run does the graceful stop on its own thread: the handler
        // returns at once, so the dispatcher stays free for other controls.
        ReportLocked(SERVICE_STOP_PENDING, kPendingWaitHintMs);
        return NO_ERROR;
    }
    case SERVICE_CONTROL_INTERROGATE: {
        ScopedLock lock(g_statusLock);
        if (g_statusHandle != nullptr && g_status.dwCurrentState != SERVICE_STOPPED)
            SetServiceStatus(g_statusHandle, &g_status);
        return NO_ERROR;
    }
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void RunService()
{
    const SERVICE_TABLE_ENTRYW dispatchTable[] = {
        {const_cast<LPWSTR>(kServiceName), &ServiceMain},
        {nullptr, nullptr},
    };
    // Returns once ServiceMain has reported the service stopped, its last act.
    if (!StartServiceCtrlDispatcherW(dispatchTable)) {
        const DWORD error = GetLastError();
        ConsolePrint(L"StartServiceCtrlDispatcher() failed: %s\n", ErrorText(error).get());
    }
}

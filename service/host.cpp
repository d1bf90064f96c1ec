#include "launcher/launcher.h"
#include "service/service.h"

namespace {

constexpr DWORD kAcceptedWhileRunning = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN;

// The one status record of the service. The control handler, the stop's
// progress reports and the service thread all report through it, under the
// lock, so check points only go up and nothing follows SERVICE_STOPPED
// (after which Windows may end the process at any moment).
SRWLOCK g_statusLock = SRWLOCK_INIT;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{SERVICE_WIN32_OWN_PROCESS, 0, 0, NO_ERROR, 0, 0, 0};

void ReportLocked(DWORD state, DWORD waitHintMs)
{
    if (g_status.dwCurrentState == SERVICE_STOPPED)
        return;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = state == SERVICE_RUNNING ? kAcceptedWhileRunning : 0;
    g_status.dwCheckPoint = state == SERVICE_STOP_PENDING ? g_status.dwCheckPoint + 1 : 0;
    g_status.dwWaitHint = waitHintMs;
    if (g_statusHandle != nullptr)
        SetServiceStatus(g_statusHandle, &g_status);
}

void ReportStopProgress()
{
    ScopedLock lock(g_statusLock);
    if (g_status.dwCurrentState == SERVICE_STOP_PENDING)
        ReportLocked(SERVICE_STOP_PENDING, kStopPendingWaitHintMs);
}

void WINAPI ServiceMain(DWORD, LPWSTR*)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, &ServiceCtrlHandler, nullptr);
    {
        ScopedLock lock(g_statusLock);
        ReportLocked(SERVICE_RUNNING, 0);
    }
    SetProcessShutdownParameters(kShutdownLevel, 0);
    SetStopProgressReporter(&ReportStopProgress);

    const int result = RunLauncher();

    // A run that never got a server up, or a server that died without being
    // asked to, is a failure: say so, so that the failure actions restart
    // the service. At system shutdown an ending server is expected.
    DWORD failure = 0;
    if (result == kRunNoJava || result == kRunCreateFailed)
        failure = static_cast<DWORD>(result);
    else if (ServerEndedOnItsOwn() && !SystemShuttingDown())
        failure = kServiceExitServerEnded;
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
        {
            ScopedLock lock(g_statusLock);
            if (g_status.dwCurrentState == SERVICE_STOP_PENDING || g_status.dwCurrentState == SERVICE_STOPPED)
                return NO_ERROR;
            ReportLocked(SERVICE_STOP_PENDING, kStopPendingWaitHintMs);
        }
        // The run does the graceful stop on its own thread: the handler
        // returns at once, so the dispatcher stays free for other controls.
        RequestServerStop();
        return NO_ERROR;
    }
    default: {
        // Interrogate and anything else: the current state, unchanged.
        ScopedLock lock(g_statusLock);
        if (g_statusHandle != nullptr && g_status.dwCurrentState != SERVICE_STOPPED)
            SetServiceStatus(g_statusHandle, &g_status);
        return NO_ERROR;
    }
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
